// Whole files between the PC and the serial Flash of the host node or a station.
#pragma once

#include <cstdint>

namespace tevrolink {

int DownloadFileToHost(uint32_t position, const char *path);
int DownloadFileToNetwork(int peer, uint32_t position, const char *path);
int UploadFileFromHost(uint32_t position, uint32_t size, const char *path);

// Prints transferred/total as a percentage with one decimal on standard output, followed
// by as many backspaces as it has characters, so that the next figure overwrites it.
void PrintProgress(uint64_t transferred, uint64_t total);

}  // namespace tevrolink
