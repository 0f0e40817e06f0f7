// Damages one face of a written Ptex file in place: a byte in the middle of the face's zipped
// level-0 block is flipped, so that the file opens and every other face reads, but that face's
// data fail to inflate. Found through the reader's own file index and level table.
#pragma once

#include <string>

namespace tarsk::test {

// False with `error` set when the file cannot be read or the face holds no zipped block.
bool corruptFaceData(const std::string& path, int faceid, std::string& error);

}  // namespace tarsk::test
