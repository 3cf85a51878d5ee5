// Signed updates: a launcher built with the operator's public keys installs
// only manifests that the operator signed, and never an older signed release
// than one it has accepted before.
//
// The site's "%s/update/lista.txt.sig" is four LF-terminated lines of text:
//
//   velmora-sig 1
//   key 0123456789abcdef          the key id, 16 lowercase hex digits
//   serial 1733540000             the release serial, 1 to 19 decimal digits
//   sig <128 lowercase hex>       ECDSA P-256 r and s, 32 bytes each, big-endian
//
// The signature is over SHA-256 of the file's first three lines, exactly as
// written, followed by the exact bytes of the manifest.
#pragma once

enum { KeyMax = 2, KeyIdLen = 8, KeyXyLen = 64, ManifestDigestLen = 32 };

struct PublicKey {
    unsigned char id[KeyIdLen];  // the key id as lista prints it, as bytes
    unsigned char xy[KeyXyLen];  // the curve point: X then Y, big-endian
};

// The keys built in (VELMORA_KEYS): the current one and possibly the next.
// KeyN 0 means a launcher built without keys, which never asks for a
// signature. Tests may put keys of their own here.
extern PublicKey Keys[KeyMax];
extern int KeyN;

// 1 when sig (len bytes) is a well-formed signature file whose key is one of
// Keys and whose signature holds over its header and the n bytes of list;
// *serial is then its serial and *by (when given) the index of its key in
// Keys. 0 for anything else; nothing is allocated.
int VerifySignature(const char *list, int n, const char *sig, int len, unsigned long long *serial, int *by = 0);

// The check of an update run, on the network thread, after the manifest (n
// bytes in list) has arrived. Returns 1 when the run may go on: built without
// keys (then nothing is fetched), or the site's signature verifies and the
// release is not below the floor: a higher serial than any accepted before
// under the launcher's keys, which it then becomes with the manifest's
// SHA-256, or the floor's own serial with the very manifest accepted at it.
// Returns 0 when the signature is missing, unreadable, of an unknown key,
// wrong, older, or of another manifest at the floor's serial. digest, when
// given, is the manifest's SHA-256 as worked out before (a kept copy's head
// says it): enough to recognize the floor's own manifest without a pass over
// megabytes; a new floor is always worked out from the bytes themselves.
int SignatureAccepted(const char *list, int n, const unsigned char *digest = 0);

// The manifest's SHA-256 (n bytes of list), as the floor keeps it, into out;
// 0 when the system cannot work it out.
int ManifestDigest(const char *list, int n, unsigned char out[ManifestDigestLen]);

// The floor is kept per key, per user, beside the game's options (HKCU
// "Software\Halvick\Zorun\Config", REG_BINARY "UpdateRelease <key id in
// hex>": the serial, 8 bytes little-endian, then the manifest's SHA-256).
// Until one of the launcher's keys has one, the floor is the one launchers
// before kept per site address ("UpdateSerial <16 hex digits of the MD5 of
// Site in capitals>", REG_QWORD), taken over at the first release accepted.

// The floor a release of this launcher's keys must reach; 0 when there is none.
unsigned long long AcceptedSerial();
// Keeps serial, with the manifest's SHA-256 (32 bytes; 0 when not known), as
// the floor of the key with the id id.
void KeepRelease(const unsigned char id[KeyIdLen], unsigned long long serial, const unsigned char *digest);
