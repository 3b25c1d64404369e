// Trusting the certificate authorities the system trusts, as other programs on it do.
#pragma once

// Whether the administrator's TAVISK_SYSTEM_TRUST value (nullptr: not set) leaves the system's
// authorities trusted: every value does but "0".
bool systemTrustWanted(const char *value);

// Loads p11-kit's trust module (the system's trust store, /etc/ssl/certs on Debian, that
// update-ca-certificates keeps) into this process's NSS, through which the engine verifies
// servers, when TAVISK_SYSTEM_TRUST allows it. Nothing is written anywhere: the person's NSS
// database (~/.pki/nssdb) is neither opened nor changed here, and the engine still opens it
// with what the person added there. Must run on the GUI thread before the engine starts: NSS
// takes a module before its own start-up and adds it to what it then opens, while a start-up
// of NSS here would keep the engine from opening the person's database. Returns true when the
// module was loaded.
bool trustSystemAuthorities();
