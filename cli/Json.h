#pragma once
// A small writer for one-line JSON objects, enough for the command line's
// reports.
#include <cstdint>
#include <string>

class TJsonObject {
 public:
  TJsonObject& Add(const std::string& key, const std::string& value);
  TJsonObject& Add(const std::string& key, const char* value) {
    return Add(key, std::string(value));
  }
  TJsonObject& Add(const std::string& key, int64_t value);
  TJsonObject& Add(const std::string& key, int32_t value) { return Add(key, int64_t{value}); }
  TJsonObject& Add(const std::string& key, double value);
  TJsonObject& Add(const std::string& key, bool value);
  TJsonObject& Add(const std::string& key, const TJsonObject& object);
  TJsonObject& AddNull(const std::string& key);

  std::string Text() const { return "{" + body_ + "}"; }

 private:
  void AddRaw(const std::string& key, const std::string& json);
  std::string body_;
};

std::string JsonQuote(const std::string& text);
