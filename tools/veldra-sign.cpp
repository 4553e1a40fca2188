// SPDX-License-Identifier: GPL-3.0-or-later
// veldra-sign: makes the key pair of a release and the detached signature of a program
// file, as a build configured with -DVELDRA_UPDATE_PUBKEY checks it before the swap.
//   veldra-sign keygen SECRET-KEY-FILE        writes the secret key (owner-only) and
//                                             prints the public key for the build
//   veldra-sign sign SECRET-KEY-FILE PROGRAM  writes PROGRAM.sig beside the program
//   veldra-sign verify PUBLIC-KEY PROGRAM     checks PROGRAM.sig; exit status 0 when valid
#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QString>
#include <cstdio>

#include "common/errors.h"
#include "common/files.h"
#include "update/signature.h"

using namespace veldra;

namespace {

int usage()
{
    std::fputs("usage: veldra-sign keygen SECRET-KEY-FILE\n"
               "       veldra-sign sign SECRET-KEY-FILE PROGRAM\n"
               "       veldra-sign verify PUBLIC-KEY-HEX PROGRAM\n",
               stderr);
    return 2;
}

int fail(const QString& text)
{
    std::fprintf(stderr, "veldra-sign: %s\n", text.toLocal8Bit().constData());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) return usage();
    if (!signaturesSupported()) return fail(QStringLiteral("this build has no libsodium (install libsodium-dev and build again)"));
    try {
        if (args[0] == u"keygen" && args.size() == 2) {
            if (QFileInfo::exists(args[1])) return fail(args[1] + QStringLiteral(" exists already: not replaced"));
            const SigningKeys keys = generateSigningKeys();
            writeFileAtomically(args[1], keys.secretKey, FileAccess::OwnerOnly);
            std::printf("%s\n", keys.publicKey.toHex().constData());
            return 0;
        }
        if (args[0] == u"sign" && args.size() == 3) {
            const QByteArray secret = readFileBytes(args[1]);
            const QByteArray signature = signDetached(readFileBytes(args[2]), secret);
            if (signature.isEmpty()) return fail(args[1] + QStringLiteral(" holds no secret key"));
            writeFileAtomically(args[2] + QStringLiteral(".sig"), signature);
            return 0;
        }
        if (args[0] == u"verify" && args.size() == 3) {
            const bool valid = verifyDetached(readFileBytes(args[2]), readFileBytes(args[2] + QStringLiteral(".sig")),
                                              QByteArray::fromHex(args[1].toLatin1()));
            std::puts(valid ? "valid" : "NOT valid");
            return valid ? 0 : 1;
        }
    } catch (const Error& e) {
        return fail(e.message());
    }
    return usage();
}
