// The client of the separate image editor, an in-process COM server of
// the same maker. It is created anew for each use and released at once;
// COM is initialised around each use.
#ifndef VS_APP_EDITOR_H
#define VS_APP_EDITOR_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct IVistrelEditor;

class EditorComponent {
public:
    EditorComponent() = default;
    ~EditorComponent();
    EditorComponent(const EditorComponent&) = delete;
    EditorComponent& operator=(const EditorComponent&) = delete;

    // False when the editor is not installed or cannot be created.
    bool Create();
    // Every call below is false when the editor reported an error or gave
    // values of the wrong type; the outputs are then unchanged.
    bool FunctionCount(uint32_t* count);
    // The function's bitmap file (as the editor gives it) and its name.
    bool FunctionInfo(uint32_t index, std::vector<uint8_t>* bitmapFile, std::string* name);
    // path: the picture's path on entry, the editor's result path on return.
    bool Run(uint32_t index, std::string* path, int32_t* status);
    bool GetResult(int16_t* newFile, int32_t* kind);
    // Releases the editor and ends the COM use; the destructor does it too.
    void Release();

private:
    IVistrelEditor* editor_ = nullptr;
    bool comInitialised_ = false;
};

// One editor function as the toolbar shows it.
struct EditorFunctionButton {
    std::string name;
    HBITMAP bitmap = nullptr;  // a DIB section; null when the editor gave none usable
};

// The editor's functions for the toolbar, each bitmap loaded through a
// file in the user's My Pictures folder. False (and no functions) when the
// editor cannot be created; true with its functions, possibly none.
bool LoadEditorFunctions(std::vector<EditorFunctionButton>* functions);

#endif
