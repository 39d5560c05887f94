#include "Json.h"

#include <cmath>
#include <cstdio>

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void TJsonObject::AddRaw(const std::string& key, const std::string& json) {
  if (!body_.empty()) body_ += ',';
  body_ += JsonQuote(key) + ':' + json;
}

TJsonObject& TJsonObject::Add(const std::string& key, const std::string& value) {
  AddRaw(key, JsonQuote(value));
  return *this;
}

TJsonObject& TJsonObject::Add(const std::string& key, int64_t value) {
  AddRaw(key, std::to_string(value));
  return *this;
}

TJsonObject& TJsonObject::Add(const std::string& key, double value) {
  if (!std::isfinite(value)) return AddNull(key);
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", value);
  AddRaw(key, text);
  return *this;
}

TJsonObject& TJsonObject::Add(const std::string& key, bool value) {
  AddRaw(key, value ? "true" : "false");
  return *this;
}

TJsonObject& TJsonObject::Add(const std::string& key, const TJsonObject& object) {
  AddRaw(key, object.Text());
  return *this;
}

TJsonObject& TJsonObject::AddNull(const std::string& key) {
  AddRaw(key, "null");
  return *this;
}
