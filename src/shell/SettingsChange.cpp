#include "shell/SettingsChange.h"

#include <vector>

namespace kavelo::shell {

namespace {

// One key's value in the settings.
struct Field
{
    const QString& key;
    bool (*differs)(const Settings& a, const Settings& b);
    void (*keep)(const Settings& from, Settings& to); // null: it takes effect while running
};

template <auto Member> bool differs(const Settings& a, const Settings& b)
{
    return a.*Member != b.*Member;
}

template <auto Member> void keep(const Settings& from, Settings& to)
{
    to.*Member = from.*Member;
}

template <auto Member> Field live(const QString& key)
{
    return Field{key, &differs<Member>, nullptr};
}

template <auto Member> Field atStart(const QString& key)
{
    return Field{key, &differs<Member>, &keep<Member>};
}

// Every key read from KAVELO.ini, in the order of the README's table.
const std::vector<Field>& fields()
{
    static const std::vector<Field> kFields{
        atStart<&Settings::DBPath>(kKeyDbName),
        atStart<&Settings::DataRoot>(kKeyData),
        atStart<&Settings::importDb>(kKeyImportDb),
        atStart<&Settings::dbSchema>(kKeyDbSchema),
        atStart<&Settings::dbLockWait>(kKeyDbLockWait),
        atStart<&Settings::importDir>(kKeyImportDir),
        live<&Settings::listenAddress>(kKeyListenAddress),
        live<&Settings::listenPort>(kKeyListenPort),
        live<&Settings::allowFrom>(kKeyAllowFrom),
        live<&Settings::maxFileSize>(kKeyMaxFileSize),
        live<&Settings::minFreeBytes>(kKeyMinFreeBytes),
        atStart<&Settings::usbPort>(kKeyUsbPort),
        live<&Settings::maxSessions>(kKeyMaxSessions),
        live<&Settings::serialPort>(kKeySerialPort),
        live<&Settings::serialBaud>(kKeySerialBaud),
        live<&Settings::serialRtsCts>(kKeySerialFlow),
        live<&Settings::maxStartups>(kKeyMaxStartups),
        live<&Settings::logMaxBytes>(kKeyLogMaxBytes),
        live<&Settings::logKeep>(kKeyLogKeep),
        live<&Settings::backupCopies>(kKeyBackupCopies),
        live<&Settings::backupKeepDays>(kKeyBackupKeepDays),
        live<&Settings::uploadAlertHours>(kKeyUploadAlertHours),
        live<&Settings::httpsPort>(kKeyHttpsPort),
        live<&Settings::tlsCertificate>(kKeyTlsCertificate),
        live<&Settings::tlsKey>(kKeyTlsKey),
        live<&Settings::requireTerminalKeys>(kKeyRequireTerminalKeys),
        live<&Settings::statusAddress>(kKeyStatusAddress),
        live<&Settings::statusPort>(kKeyStatusPort),
        live<&Settings::statusAllowFrom>(kKeyStatusAllowFrom),
    };
    return kFields;
}

} // namespace

SettingsChange compareSettings(const Settings& inForce, Settings& next)
{
    next.programFolder = inForce.programFolder;
    SettingsChange change;
    for (const Field& field : fields()) {
        if (!field.differs(inForce, next)) {
            continue;
        }
        if (field.keep) {
            field.keep(inForce, next);
            change.restartNeeded << field.key;
        } else {
            change.applied << field.key;
        }
    }
    return change;
}

} // namespace kavelo::shell
