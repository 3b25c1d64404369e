#include "webview/tokenlogin.h"

#ifdef TAVISK_HAVE_NSS
#include <cert.h>
#include <nss.h>
#include <pk11pub.h>
#endif

#ifdef TAVISK_HAVE_NSS

TokenLogin tokenLoginFor(const QSslCertificate &certificate)
{
    // Before the engine has started NSS there is no token to open; it has always started it
    // by the time it offers certificates.
    if (!NSS_IsInitialized())
        return {};
    QByteArray der = certificate.toDer();
    SECItem item{siBuffer, reinterpret_cast<unsigned char *>(der.data()),
                 static_cast<unsigned int>(der.size())};
    CERTCertificate *found = CERT_FindCertByDERCert(CERT_GetDefaultCertDB(), &item);
    if (found == nullptr)
        return {};
    TokenLogin login;
    if (PK11SlotList *slots = PK11_GetAllSlotsForCert(found, nullptr)) {
        for (PK11SlotListElement *element = slots->head; element != nullptr;
             element = element->next) {
            PK11SlotInfo *slot = element->slot;
            if (PK11_NeedLogin(slot) && !PK11_IsLoggedIn(slot, nullptr)) {
                login.tokenName = QString::fromUtf8(PK11_GetTokenName(slot));
                login.slot = std::shared_ptr<void>(PK11_ReferenceSlot(slot), [](void *held) {
                    PK11_FreeSlot(static_cast<PK11SlotInfo *>(held));
                });
                break;
            }
        }
        PK11_FreeSlotList(slots);
    }
    CERT_DestroyCertificate(found);
    return login;
}

bool openToken(const TokenLogin &login, QByteArray &pin)
{
    bool opened = false;
    if (login.needed()) {
        auto *slot = static_cast<PK11SlotInfo *>(login.slot.get());
        // A token that is already open (the person opened it in an earlier chooser) needs no
        // second try, which on a card would spend one of its few attempts.
        opened = PK11_IsLoggedIn(slot, nullptr)
            || PK11_CheckUserPassword(slot, pin.constData()) == SECSuccess;
    }
    pin.fill('\0');
    pin.clear();
    return opened;
}

#else

TokenLogin tokenLoginFor(const QSslCertificate &)
{
    return {};
}

bool openToken(const TokenLogin &, QByteArray &pin)
{
    pin.fill('\0');
    pin.clear();
    return false;
}

#endif
