// The caption and status bar texts of the picture display.
#ifndef VS_BROWSE_TEXTS_H
#define VS_BROWSE_TEXTS_H

#include <cstddef>
#include <cstdint>
#include <string>

// The program version text (string 13) and the caption's fixed start; the
// single-instance hand-over looks for kCaptionMark in window captions.
extern const char kVersionText[];     // "2.0"
extern const char kCaptionMark[];     // "Vistrel Viewer - v2.0"
extern const char kCaptionPrefix[];   // "Vistrel Viewer - v2.0 - Orvanta - "
extern const char kCaptionNoPicture[];  // "Vistrel Viewer - v2.0 - Orvanta"

// The four status panes before the first picture (strings 20, 21, 22, 33);
// each is also the start of its pane's text.
extern const char kPaneNameEmpty[];        // " "
extern const char kPaneDimensionsEmpty[];  // "Dimensions:  "
extern const char kPaneFileSizeEmpty[];    // "File size: "
extern const char kPaneSortEmpty[];        // "Sort by: "

// " (i/n)" with i = index + 1 and n = count.
std::string CounterText(int32_t index, int32_t count);

std::string CaptionWithCounter(const std::string& path, int32_t index, int32_t count);
std::string CaptionPlain(const std::string& path);

// Status pane 0.
std::string PaneName(const std::string& path, int32_t index, int32_t count);

// The caption and panes 0 to 2 for one picture: path at index of count
// (index -1: no longer listed, so no counter), its declared size and file
// size. An empty path is no picture: the caption and panes of the start.
struct VSPictureTexts {
    std::string caption, name, dimensions, fileSize;
};
VSPictureTexts PictureTexts(const std::string& path, int32_t index, int32_t count, uint32_t w, uint32_t h,
                            uint32_t bytes);
// Status pane 1: the declared size.
std::string PaneDimensions(uint32_t w, uint32_t h);
// Status pane 2: MB with two decimals from 1,048,576 bytes on, else whole KB.
std::string PaneFileSize(uint32_t bytes);
// Status pane 3: "Sort by: NAME ASC" and the like; a key other than 18 or
// 19 reads as the name, as stored settings do.
std::string PaneSort(uint32_t key, bool ascending);

// The question before deleting the current file.
std::string DeleteQuestion(const std::string& path);
// A path as a message shows it: message boxes do not wrap a path, so one
// longer than kMessagePathBytes is shortened in the middle ("...").
constexpr size_t kMessagePathBytes = 80;
std::string PathForMessage(const std::string& path);
// The message for a file whose status cannot be read: the path, then the
// system's error text on a line of its own.
std::string UnreadableFileText(const std::string& path, const std::string& errorText);

#endif
