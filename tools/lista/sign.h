// Signed sites: 'lista keygen' and 'lista --sign'. The formats are text, one
// field a line, so that each reads plainly in an editor or a hex dump:
//
//   public key line (printed by keygen; the launcher's VELMORA_KEYS file):
//     velmora-key 1 <key id> <public key>
//   private key file (KEYFILE, owner-only):
//     velmora-private-key 1 / key <key id> / public <public key> / private <d>
//   signature file (SITE/update/lista.txt.sig):
//     velmora-sig 1 / key <key id> / serial <N> / sig <r and s>
//
// All binary fields are lowercase hex: the public key is X then Y (128
// digits), d 64 digits, r then s 128 digits. The key id is the first 16 hex
// digits of the SHA-256 of the public key's 128 hex digits. The signature is
// ECDSA P-256 over SHA-256 of the signature file's first three lines (LF
// ends included) followed by the manifest's exact bytes.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "crypto.h"

// lista keygen KEYFILE: writes a new key pair; exit status.
int KeyGen(const std::vector<std::string> &args);

struct Signer {
    EcKey key;
    std::string id;
    unsigned long long serial = 0;
    bool serialGiven = false;
    bool force = false;   // allow a serial lower than the site's, the site's own for another release, or one with no room
    bool rotate = false;  // sign a site signed with another key
    unsigned long long current = 0;  // the site's serial before this run (0: none)
    std::string currentKey;          // the key id of the site's signature ("": none)
    std::string currentText;         // the site's signature file
};

// Reads and checks KEYFILE (its halves must belong together, and it must not
// lie in a folder that gets published); false after a message. Warns when
// others may read it.
bool LoadSigner(const std::filesystem::path &keyfile, const std::vector<std::filesystem::path> &published,
                Signer &s);

// Settles the serial and the key against the site's current signature,
// before anything is written: false after a message when a given serial is
// lower than the site's or leaves no room above it, or when the site is
// signed with another key, unless forced or told (--rotate). (A serial equal
// to the site's is settled once the manifest is known: SignsAgain.)
bool ChooseSerial(Signer &s, const std::filesystem::path &site);

// True when the site's current signature signs exactly manifest: then the
// site's own serial may sign it again.
bool SignsAgain(const Signer &s, const std::string &manifest);

// The signature file's text for the manifest; false after a message.
bool SignManifest(const Signer &s, const std::string &manifest, std::string &text);

// ---- Checking signatures ('lista verify') -----------------------------------

struct SigFile {
    std::string id;      // the key id, 16 hex digits
    unsigned long long serial = 0;
    std::string header;  // the three signed lines
    std::string rs;      // r then s, 64 bytes
};

// A signature file read strictly as launchers read it; false for anything else.
bool ParseSig(const std::string &text, SigFile &sig);

// The public key lines of a VELMORA_KEYS file (blank lines and # comments
// allowed); false after a message when a line is not one of keygen's.
bool ReadKeyLines(const std::filesystem::path &path, std::vector<std::pair<std::string, EcKey>> &keys);

// True when sig holds for manifest under key.
bool SigHolds(const SigFile &sig, const EcKey &key, const std::string &manifest);
