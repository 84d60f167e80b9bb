// What a host author would write with OpenSSL's libcrypto instead of loading the
// library: the same request line in the host buffer, the same reply line out. The
// benchmark times each procedure beside its reference and checks that both reply
// alike before it times anything.
#pragma once

// "encrypt KEY TEXT", "decrypt KEY TEXT" or "encpass PASSWORD", answered in place.
// Only well-formed requests are answered as the library answers them; the others get
// "-ERR".
void reference_blowfish(char *buffer);

// "+OK " and the 32 hex digits of the MD5 digest of the whole buffer text.
void reference_md5(char *buffer);
