// The settings dialog's model: the picture types that can be associated
// with the viewer, their per-user associations under "Software\Classes"
// and the shell's FileExts key, and the "Extension" and "AutoRotate"
// settings.
#ifndef VS_FEATURES_ASSOCIATIONS_H
#define VS_FEATURES_ASSOCIATIONS_H

#include "app/regtree.h"

#include <cstdint>
#include <string>
#include <vector>

struct VSPictureType {
    const char* listText;
    uint32_t bit;
    std::vector<std::string> extensions;  // the first is the one detection looks at
};

// The six types in list order.
const std::vector<VSPictureType>& PictureTypes();

// "VSViewer" followed by the extension with its dot.
std::string ProgIdFor(const std::string& extension);

extern const char kClassesKey[];   // "Software\Classes\"
extern const char kFileExtsKey[];  // "Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\"

struct VSAssociationState {
    uint32_t extensions = 0;  // bit set of PictureTypes() bits
    uint32_t autoRotate = 1;
};

// Reads "Extension" and "AutoRotate"; then, when any bit is set, clears
// the bit of every type whose first extension another program has taken.
VSAssociationState LoadAssociationState(VSRegTree& tree);

// Registers the viewer (programPath) as the opener of one extension.
void Associate(VSRegTree& tree, const std::string& extension, const std::string& programPath);
// Removes the association of one extension when it is the viewer's.
void Disassociate(VSRegTree& tree, const std::string& extension);

// "Apply": associates or disassociates every type by its bit, then writes
// "Extension" and "AutoRotate".
void ApplyAssociationState(VSRegTree& tree, const VSAssociationState& state, const std::string& programPath);

// A click on the list entry at position: flips its bit. Returns the new
// check state; false also for a position outside the list.
bool ToggleType(VSAssociationState* state, int32_t position);
bool TypeChecked(const VSAssociationState& state, int32_t position);

#endif
