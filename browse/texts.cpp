// The caption and status bar texts.
#include "browse/texts.h"

#include "browse/paths.h"

#include <cinttypes>
#include <cstdio>

const char kVersionText[] = "2.0";
const char kCaptionMark[] = "Vistrel Viewer - v2.0";
const char kCaptionPrefix[] = "Vistrel Viewer - v2.0 - Orvanta - ";
const char kCaptionNoPicture[] = "Vistrel Viewer - v2.0 - Orvanta";

const char kPaneNameEmpty[] = " ";
const char kPaneDimensionsEmpty[] = "Dimensions:  ";
const char kPaneFileSizeEmpty[] = "File size: ";
const char kPaneSortEmpty[] = "Sort by: ";

std::string CounterText(int32_t index, int32_t count) {
    char buffer[48];
    // Widened so that index + 1 cannot overflow.
    std::snprintf(buffer, sizeof buffer, " (%" PRId64 "/%" PRId32 ")", static_cast<int64_t>(index) + 1, count);
    return buffer;
}

std::string CaptionWithCounter(const std::string& path, int32_t index, int32_t count) {
    return CaptionPlain(path) + CounterText(index, count);
}

std::string CaptionPlain(const std::string& path) { return kCaptionPrefix + FileName(path); }

std::string PaneName(const std::string& path, int32_t index, int32_t count) {
    return kPaneNameEmpty + FileName(path) + CounterText(index, count);
}

VSPictureTexts PictureTexts(const std::string& path, int32_t index, int32_t count, uint32_t w, uint32_t h,
                            uint32_t bytes) {
    if (path.empty()) return {kCaptionNoPicture, kPaneNameEmpty, kPaneDimensionsEmpty, kPaneFileSizeEmpty};
    if (index < 0)
        return {CaptionPlain(path), kPaneNameEmpty + FileName(path), PaneDimensions(w, h), PaneFileSize(bytes)};
    return {CaptionWithCounter(path, index, count), PaneName(path, index, count), PaneDimensions(w, h),
            PaneFileSize(bytes)};
}

std::string PaneDimensions(uint32_t w, uint32_t h) {
    char buffer[40];
    // Unsigned: a declared size above 2^31 - 1 must not read as negative.
    std::snprintf(buffer, sizeof buffer, "%" PRIu32 " x %" PRIu32, w, h);
    return kPaneDimensionsEmpty + std::string(buffer);
}

std::string PaneFileSize(uint32_t bytes) {
    char buffer[40];
    if (bytes >= 1048576u) {
        std::snprintf(buffer, sizeof buffer, "%.2f MB", bytes / 1048576.0);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.0f KB", bytes / 1024.0);
    }
    return kPaneFileSizeEmpty + std::string(buffer);
}

std::string PaneSort(uint32_t key, bool ascending) {
    std::string text = kPaneSortEmpty;
    switch (key) {
        case 18: text += "DATE "; break;
        case 19: text += "SIZE "; break;
        default: text += "NAME "; break;  // settings read any other key as the name
    }
    text += ascending ? "ASC" : "DESC";
    return text;
}

std::string DeleteQuestion(const std::string& path) {
    return "Are you sure want to delete " + FileName(path) + " ?";
}

std::string PathForMessage(const std::string& path) {
    if (path.size() <= kMessagePathBytes) return path;
    // A third for the start, the rest for the end, which holds the name;
    // neither cut splits a UTF-8 character.
    const auto continues = [&path](size_t i) { return (static_cast<unsigned char>(path[i]) & 0xC0) == 0x80; };
    size_t head = (kMessagePathBytes - 3) / 3;
    size_t tail = path.size() - (kMessagePathBytes - 3 - head);
    while (head > 0 && continues(head)) --head;
    while (tail < path.size() && continues(tail)) ++tail;
    return path.substr(0, head) + "..." + path.substr(tail);
}

std::string UnreadableFileText(const std::string& path, const std::string& errorText) {
    return PathForMessage(path) + "\n" + errorText;
}
