// How the updater a player started hands an install folder to the copy of
// itself it starts with administrator rights (the helper), and how the helper
// makes sure the folder came from that updater and not from whatever command
// line a web page or another program could start it with.
//
// The first process fills a block of shared memory that only a process of the
// same session knowing its name can open; the name carries the first process's
// id and a 128-bit nonce from the system's random source:
//
//   Local\VornelUpdaterHelper-1234-00112233445566778899aabbccddeeff
//
//   offset  0  "VHLP"                        magic
//           4  u32 1                         block version
//           8  u32 1234                      the first process's id
//          12  16 bytes                      the nonce
//          28  u16 n, n UTF-16LE units       the install folder it chose
//              u16 m, m UTF-16LE units       its working folder
//
// and starts the helper with the arguments
//
//   --elevated-helper 1234 00112233445566778899aabbccddeeff "D:\Games\Title"
//
// The helper accepts only a whole block of this version whose id, nonce and
// install folder are exactly those of its command line. A block of another
// version, a cut or oversized one, a folder that differs by one unit: refused,
// and the helper ends at once, touching nothing. Folders travel as UTF-16, so
// they are compared as the system spells them, never through a code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// 128 bits of nonce: a name nobody outside the first process can guess.
constexpr size_t kNonceBytes = 16;
// The shared block's size, two pages: the 28-byte header and two folders of
// the longest length (2 + 2048 bytes each) fit.
constexpr size_t kHandshakeBlockSize = 8192;
// The longest folder either side accepts, in UTF-16 units: more than any
// folder the updater writes (259 bytes of Shift-JIS) and within the block.
constexpr size_t kMaxHandshakeFolder = 1024;
// The block's layout version; a helper refuses any other.
constexpr uint32_t kHandshakeVersion = 1;
// The first argument that makes the program the helper.
constexpr const char16_t* kHelperSwitch = u"--elevated-helper";

// How the helper ends; the first process reads it as the helper's exit code.
enum HelperExit {
    kHelperExitDone = 0,     // the package, the [ini] lines and the deletions are in
    kHelperExitFailed = 1,   // a failure was told (or Cancel chosen); the folder is as it was
    kHelperExitRefused = 2,  // no handshake, or one that did not match: nothing was touched
};

// What the helper's command line says.
struct HelperRequest {
    uint32_t parentId;
    uint8_t nonce[kNonceBytes];
    std::u16string folder;
};

// What the first process puts in the shared block.
struct HandshakeBlock {
    uint32_t parentId;
    uint8_t nonce[kNonceBytes];
    std::u16string installFolder;
    std::u16string workingFolder;
};

// The shared block's name for parentId and nonce.
std::u16string HandshakeMappingName(uint32_t parentId, const uint8_t* nonce);

// The helper's arguments (without the program), the folder quoted so that the
// system's command-line rules give it back exactly.
std::u16string FormatHelperArguments(const HelperRequest& request);

// How a command line reads.
enum HelperCommand {
    kNotHelper = 0,    // its first argument is not kHelperSwitch: the updater as the player starts it
    kHelperAsked,      // the switch with an id, a nonce and a folder
    kHelperMalformed,  // the switch with anything else
};

// Reads a whole command line as the system gives it (the program's name first,
// then the arguments by the system's quoting rules). Fills request only for
// kHelperAsked.
HelperCommand ParseHelperCommandLine(const char16_t* commandLine, HelperRequest* request);

// Lays block out into out (capacity bytes). Returns the bytes used, or 0,
// writing nothing, when a folder is empty or longer than kMaxHandshakeFolder
// or the block does not fit.
size_t WriteHandshakeBlock(const HandshakeBlock& block, uint8_t* out, size_t capacity);

// Reads a block laid out by WriteHandshakeBlock from size bytes (trailing
// bytes past it are the mapping's unused rest). Returns false, block
// untouched, for another magic or version, a cut block, or an empty or
// oversized folder or one holding a NUL.
bool ReadHandshakeBlock(const uint8_t* data, size_t size, HandshakeBlock* block);

// The helper's rule: true only when the block carries the command line's
// parent id and nonce and exactly its folder, unit for unit.
bool AcceptHelperRequest(const HelperRequest& request, const HandshakeBlock& block);
