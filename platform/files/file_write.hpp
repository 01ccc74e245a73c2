#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace camsteer {

// Makes every missing folder of `dir` (mkdir -p), with `mode` before the umask. False with a
// one-line reason naming the folder that could not be made.
bool makeFolders(const std::string& dir, unsigned mode, std::string& why);

// Puts `size` bytes at `path` in one step, so that `path` holds the old content or the new one
// whole, never a part, whatever happens meanwhile: a new file of `mode` beside it (never
// following a link), written and synced, then put in place of `path` by a rename. The folder
// must exist. False with a one-line reason ("cannot write 'PATH': ..."), leaving `path` as it
// was and no new file behind.
bool replaceFile(const std::string& path, const void* bytes, size_t size, unsigned mode,
                 std::string& why);

// replaceFile for a user's file (as the umask allows), making the folders missing on the way.
bool writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string& why);

}  // namespace camsteer
