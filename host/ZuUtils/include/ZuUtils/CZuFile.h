#pragma once

#include <cstddef>
#include <string>

#include <ZuUtils/CZuError.h>
#include <ZuUtils/ZuExport.h>

class ZUUTILS_API CZuFile {
  public:
    // The most ReadWholeFile reads: far more than any configuration or settings file.
    static constexpr std::size_t kMaxFileBytes = std::size_t{16} * 1024 * 1024;

    // Replaces content with every byte of the regular file that path names, read to its
    // end (its recorded size is not trusted). On failure content is left empty and the
    // error's code is the negated errno: -EINVAL for a null path and for anything but a
    // regular file or a directory (a FIFO, a socket, a device such as /dev/zero), -EISDIR
    // for a directory, -EFBIG for a file of more than kMaxFileBytes bytes. Never blocks on
    // a FIFO nobody writes. An allocation failure within the bound throws std::bad_alloc.
    static CZuError ReadWholeFile(const char* path, std::string& content);
};
