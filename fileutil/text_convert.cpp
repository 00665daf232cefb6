#include "fileutil/text_convert.h"

#include <clocale>
#include <cstdlib>
#include <vector>

namespace {

// Generous for every code page, double-byte and UTF-8 included; the converted
// count, not the buffer size, bounds the result.
constexpr std::size_t kWideUnitsPerByte = 2;
constexpr std::size_t kBytesPerWideUnit = 4;

// mbstowcs and wcstombs report an unconvertible sequence this way.
constexpr std::size_t kConversionFailed = static_cast<std::size_t>(-1);

void UseUserDefaultCharacterLocale() {
    std::setlocale(LC_CTYPE, "");  // refused, the C locale stays: ASCII converts still
}

}  // namespace

std::wstring StringToWString(std::string text) {
    UseUserDefaultCharacterLocale();
    if (text.empty()) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(kWideUnitsPerByte * text.size());
    // A converter that fills the buffer to its limit writes no terminating
    // NUL, so the result is cut by the count it reports.
    const std::size_t converted = std::mbstowcs(buffer.data(), text.c_str(), buffer.size());
    if (converted == kConversionFailed) {
        return std::wstring();
    }
    return std::wstring(buffer.data(), converted);
}

std::string WStringToString(std::wstring text) {
    UseUserDefaultCharacterLocale();
    if (text.empty()) {
        return std::string();
    }
    std::vector<char> buffer(kBytesPerWideUnit * text.size());
    const std::size_t converted = std::wcstombs(buffer.data(), text.c_str(), buffer.size());
    if (converted == kConversionFailed) {
        return std::string();
    }
    return std::string(buffer.data(), converted);
}
