// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/signature.h"

#include "updateurl.h"

#ifdef VELDRA_HAVE_SODIUM
#include <sodium.h>
#endif

namespace veldra {

namespace {

#ifdef VELDRA_HAVE_SODIUM
bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}
#endif

}  // namespace

bool signaturesSupported()
{
#ifdef VELDRA_HAVE_SODIUM
    return sodiumReady();
#else
    return false;
#endif
}

QByteArray configuredUpdatePublicKey() { return QByteArray::fromHex(QByteArrayLiteral(VELDRA_UPDATE_PUBKEY)); }

SigningKeys generateSigningKeys()
{
    SigningKeys keys;
#ifdef VELDRA_HAVE_SODIUM
    if (!sodiumReady()) return keys;
    keys.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    keys.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(keys.publicKey.data()),
                        reinterpret_cast<unsigned char*>(keys.secretKey.data()));
#endif
    return keys;
}

QByteArray signDetached(const QByteArray& bytes, const QByteArray& secretKey)
{
#ifdef VELDRA_HAVE_SODIUM
    if (!sodiumReady() || secretKey.size() != crypto_sign_SECRETKEYBYTES) return {};
    QByteArray sig(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(bytes.constData()), quint64(bytes.size()),
                         reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return sig;
#else
    Q_UNUSED(bytes);
    Q_UNUSED(secretKey);
    return {};
#endif
}

bool verifyDetached(const QByteArray& bytes, const QByteArray& signature, const QByteArray& publicKey)
{
#ifdef VELDRA_HAVE_SODIUM
    if (!sodiumReady() || publicKey.size() != crypto_sign_PUBLICKEYBYTES) return false;
    QByteArray sig = signature;
    if (sig.size() != crypto_sign_BYTES) {
        const QByteArray hex = signature.trimmed();
        bool allHex = hex.size() == 2 * crypto_sign_BYTES;
        for (char c : hex) allHex = allHex && QByteArrayView("0123456789abcdefABCDEF").contains(c);
        if (!allHex) return false;
        sig = QByteArray::fromHex(hex);
    }
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(sig.constData()),
                                       reinterpret_cast<const unsigned char*>(bytes.constData()),
                                       quint64(bytes.size()),
                                       reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
#else
    Q_UNUSED(bytes);
    Q_UNUSED(signature);
    Q_UNUSED(publicKey);
    return false;
#endif
}

}  // namespace veldra
