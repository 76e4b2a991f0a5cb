// Keeps GnuTLS, loaded by Debian's libcurl but never used by the updater, from setting itself up.
//
// Debian's libcurl speaks TLS through OpenSSL, yet pulls in GnuTLS through its
// RTMP and LDAP libraries, protocols the updater never allows. GnuTLS sets
// itself up when it is loaded (random generator, PKCS #11 module list, its
// configuration file): about 0.7 MiB of resident memory for nothing. Its load
// asks this hook, which it exports as a weak symbol for exactly this, whether
// to skip that; the executable's definition wins over the weak one. A library
// that does use GnuTLS calls gnutls_global_init itself, as its interface
// requires, and is not affected.

// The name is GnuTLS's; the linker exports it from the executable.
extern "C" int _gnutls_global_init_skip() { return 1; }
