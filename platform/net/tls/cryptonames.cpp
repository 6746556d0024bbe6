// Carries the soname libcrypto.so and leads to OpenSSL 3's libcrypto, which only the
// development package otherwise names so.
