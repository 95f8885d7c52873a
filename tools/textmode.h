#pragma once

// Makes stdout and stderr write "\n" as it is on every platform, so the
// tool's output is the same bytes everywhere. One file per platform.
void VSUnixLineEnds();
