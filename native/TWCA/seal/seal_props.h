// The two properties-file templates that configure the signing engine. Both
// are str.format templates with the fields seal_path_folder, seal_name and
// p7b_path; every line ends with a single LF.
#pragma once

namespace orvane::seal {

#define SEAL_PROPS_LINES(level)                                                  \
    "LOG.path = logs\n"                                                          \
    "LOG.file = seal.log\n"                                                      \
    "LOG.level = " level "\n"                                                    \
    "PFX.path = {seal_path_folder}\n"                                            \
    "PFX.file = {seal_name}\n"                                                   \
    "PFX.checkValid = true\n"                                                    \
    "PKCS7.digest = SHA256\n"                                                    \
    "PKCS7.addCert = 1\n"                                                        \
    "PKCS7.addPlainText = true\n"                                                \
    "PKCS7.addTimestamp = false\n"                                               \
    "P7B.path = {p7b_path}\n"                                                    \
    "P7B0.name = TaiCA Secure CA_2012.p7b\n"                                     \
    "P7B0.SKI = FA1F7F07700FEB1591AA6A21FD0CDC801B18C885\n"                      \
    "P7B1.name = TaiCA Secure CA_2014.p7b\n"                                     \
    "P7B1.SKI = 2E3B2E30EA9E85A1A574148DCA539795930B649C8C6635BFF98B0DBB8D16415C\n" \
    "P7B2.name = TWCA Financial User CA_2014.p7b\n"                              \
    "P7B2.SKI = F395038C0F5FD4B0F23A7D061087D5BD3060B6FB4A5A725D772C491B433AE76A\n" \
    "P7B3.name = TWCA Financial User CA_2017.p7b\n"                              \
    "P7B3.SKI = 8DD0A0C9CF9B5062CB39073F083359A9FCD4612DCFBB4CB3A70446CB6E74B678\n"

// P7SIGN_PROPS, the template of PyTWCASign.activate (log level WARN).
inline constexpr const char kSessionProps[] = SEAL_PROPS_LINES("WARN");

// The template of init_seal (log level DEBUG), with four blanks after the last
// line.
inline constexpr const char kInitProps[] = SEAL_PROPS_LINES("DEBUG") "    ";

#undef SEAL_PROPS_LINES

}  // namespace orvane::seal
