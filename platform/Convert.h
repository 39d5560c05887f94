#pragma once
// Text-to-number conversions with the platform's rules and messages. A
// failed conversion raises EConvertError.
//
// Integers: leading blanks, an optional sign, then decimal digits, or
// hexadecimal digits after "$", "x" or "0x" (x in either case). Nothing may
// follow the digits. Decimal values must fit the signed range; hexadecimal
// values may use every bit of the type ("$FFFFFFFF" is -1).
//
// Reals: optional blanks around an optional sign, digits with the decimal
// separator of the user's locale settings, and an optional exponent.
#include <cstdint>
#include <string>

int StrToInt(const std::string& text);
int64_t StrToInt64(const std::string& text);
double StrToFloat(const std::string& text);

// The same conversions giving fallback instead of raising.
int StrToIntDef(const std::string& text, int fallback);
double StrToFloatDef(const std::string& text, double fallback);

// The decimal separator of the user's locale settings (the environment's
// LC_ALL, LC_NUMERIC or LANG), read without changing the process locale;
// "." when the settings name no usable locale.
std::string LocaleDecimalSeparator();
