// Status-line texts and the sizes derived from the window's fonts.
#include <cmath>

#include "progress_window.h"
#include "text.h"
#include "downloader_texts.h"

std::wstring size_text(unsigned long long bytes) {
    static constexpr const wchar_t* units[] = {L"B", L"kB", L"MB", L"GB", L"TB", L"PB", L"EB", L"ZB", L"YB"};
    double value = static_cast<double>(bytes);
    size_t divisions = 0;
    while (value >= 1000.0 && divisions < 8) {
        value /= 1000.0;
        ++divisions;
    }
    value = std::round(value * 100.0) / 100.0;
    return format(L"%.2f%s", value, units[divisions]);
}

std::wstring progress_line(const std::wstring& progressText, unsigned long done, long total) {
    const bool prefix = !is_empty_value(progressText);
    if (total > 0) {
        std::wstring done_text = size_text(done), total_text = size_text(static_cast<unsigned long>(total));
        return prefix ? format(texts::kProgressWithPrefix, progressText.c_str(), done_text.c_str(),
                               total_text.c_str())
                      : format(texts::kProgress, done_text.c_str(), total_text.c_str());
    }
    return prefix ? progressText + size_text(done) : size_text(done);
}

int progress_window_width(int firstWidth, int titleWidth, int statusWidth) {
    int width = titleWidth + firstWidth;
    if (width < statusWidth) width = statusWidth;
    if (width < 2 * firstWidth) width = 2 * firstWidth;
    return width;
}

int small_icon_size(UINT dpi) {
    if (dpi >= 192) return 32;
    if (dpi >= 168) return 28;
    if (dpi >= 144) return 24;
    if (dpi >= 120) return 20;
    return 16;
}
