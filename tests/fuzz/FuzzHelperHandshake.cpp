// The elevated helper's two inputs: its command line, which any program or
// web page that can start it controls (the input read as UTF-16LE, up to its
// first NUL), and a shared block (the same bytes).
//
// Promises: nothing is read outside the input; a request the parser accepts
// is given back exactly by the formatter and the parser again; a block the
// reader accepts lays out again into the very bytes it was read from; and a
// request is accepted against a block only with the block's own folder.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "update/HelperHandshake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string line;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) break;
        line += unit;
    }
    HelperRequest request;
    if (ParseHelperCommandLine(line.c_str(), &request) == kHelperAsked) {
        std::u16string again = u"updater.exe " + FormatHelperArguments(request);
        HelperRequest reread;
        if (ParseHelperCommandLine(again.c_str(), &reread) != kHelperAsked || reread.folder != request.folder ||
            reread.parentId != request.parentId || memcmp(reread.nonce, request.nonce, kNonceBytes) != 0)
            abort();
    }
    HandshakeBlock block;
    if (ReadHandshakeBlock(data, size, &block)) {
        std::vector<uint8_t> laid(kHandshakeBlockSize);
        size_t used = WriteHandshakeBlock(block, laid.data(), laid.size());
        if (used == 0 || used > size || memcmp(laid.data(), data, used) != 0) abort();
        HelperRequest own;
        own.parentId = block.parentId;
        memcpy(own.nonce, block.nonce, kNonceBytes);
        own.folder = block.installFolder;
        if (!AcceptHelperRequest(own, block)) abort();
        own.folder += u'x';
        if (AcceptHelperRequest(own, block)) abort();
    }
    return 0;
}
