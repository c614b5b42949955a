#include "device/disk_identity.h"

#include "base/utf16_text.h"
#include "device/phrases.h"

std::u16string describeDisk(const DiskIdentity& identity) {
    if (identity.hasSerial())
        return phrase(Phrase::SerialName, {identity.serial});
    return phrase(Phrase::PortName, {identity.port});
}

std::u16string calculatorName(const DiskIdentity& identity) {
    return identity.hasSerial() ? identity.serial : u"port " + identity.port;
}

std::u16string identityKey(const DiskIdentity& identity) {
    std::u16string key = identity.vendor + u'/' + identity.model + u'/';
    if (identity.hasSerial())
        return key + u"serial:" + identity.serial;
    return key + u"port:" + identity.port + u'/' + toUtf16(std::to_string(identity.deviceNumber)) +
           u'/' + toUtf16(std::to_string(identity.diskSequence));
}

std::u16string disconnectedWithoutSerialText(const DiskIdentity& identity) {
    return phrase(Phrase::DisconnectedNoSerial, {describeDisk(identity)});
}
