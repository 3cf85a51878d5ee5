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

enum { KeyMax = 2, KeyIdLen = 8, KeyXyLen = 64 };

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
// *serial is then its serial. 0 for anything else; nothing is allocated.
int VerifySignature(const char *list, int n, const char *sig, int len, unsigned long long *serial);

// The check of an update run, on the network thread, after the manifest (n
// bytes in list) has arrived. Returns 1 when the run may go on: built without
// keys (then nothing is fetched), or the site's signature verifies and its
// serial is not below the highest one accepted before, which it then becomes.
// Returns 0 when the signature is missing, unreadable, of an unknown key,
// wrong, or older.
int SignatureAccepted(const char *list, int n);

// The highest serial accepted so far from this Site, kept per user beside the
// game's options (HKCU "Software\Halvick\Zorun\Config", REG_QWORD
// "UpdateSerial <16 hex digits of the site's MD5>"); 0 when there is none.
unsigned long long AcceptedSerial();
// Makes v the accepted serial of this Site.
void KeepSerial(unsigned long long v);
