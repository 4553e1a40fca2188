// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Detached Ed25519 signatures of published program files (libsodium). A signature
// file is the 64 signature bytes, or the same as 128 hexadecimal digits.
#include <QByteArray>
#include <QString>

namespace veldra {

// True when this build can check (and make) signatures.
bool signaturesSupported();
// The public key this build was configured with (32 bytes); empty when none.
QByteArray configuredUpdatePublicKey();

struct SigningKeys {
    QByteArray publicKey;  // 32 bytes
    QByteArray secretKey;  // 64 bytes
};
// A new key pair; empty keys when signatures are not supported.
SigningKeys generateSigningKeys();
// The 64-byte detached signature of `bytes`; empty when not supported or the key is wrong.
QByteArray signDetached(const QByteArray& bytes, const QByteArray& secretKey);
// True when `signature` (raw or hexadecimal, surrounding blanks ignored) is a valid
// signature of `bytes` by `publicKey`.
bool verifyDetached(const QByteArray& bytes, const QByteArray& signature, const QByteArray& publicKey);

}  // namespace veldra
