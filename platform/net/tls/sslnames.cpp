// Carries the soname libssl.so and leads to OpenSSL 3's libssl, adding the one function name
// Debian 12's civetweb asks for that OpenSSL 3 no longer exports.
extern "C" {
typedef struct ssl_st SSL;
typedef struct x509_st X509;
X509 *SSL_get1_peer_certificate(const SSL *ssl);

// The name OpenSSL 1.1 gave it; OpenSSL 3 keeps it as a macro only.
X509 *SSL_get_peer_certificate(const SSL *ssl) {
    return SSL_get1_peer_certificate(ssl);
}
}
