// The update catalog: filling, thinning out by installed version, the sorted key list, and the
// job lines and temporary log entries the hand-off needs.
#include "core/catalog/Updates.h"

#include "core/catalog/JobHandOff.h"
#include "core/catalog/UserLog.h"
#include "core/platform/text/IntText.h"
#include "core/platform/rtf/RtfReader.h"
#include "core/services/BasicProcs.h"

#include <algorithm>

TUpdateNode::TUpdateNode(QString dateiname, bool stillesUpdate, TUpdateTyp typ, QString lizenzURL,
                         qint32 updaterVersion, QString beschreibungRTF)
    : FDateiname(std::move(dateiname)),
      FStillesUpdate(stillesUpdate),
      FTyp(typ),
      FLizenzURL(std::move(lizenzURL)),
      FUpdaterVersion(updaterVersion),
      FBeschreibungRTF(std::move(beschreibungRTF))
{
}

void TUpdates::Clear()
{
    FUpdateDictionary.clear();
    FModulDictionary.clear();
    FLocalVersionMemo.clear();
    FLastModule.reset();
}

void TUpdates::AddUpdate(const QString& ModulName, qint32 ModulNr, qint32 Hauptversion, qint32 Nebenversion,
                         qint32 Unterversion, QString Dateiname, const QString& StillesUpdate,
                         const QString& Typ, QString LizenzURL, const QString& UpdaterVersion,
                         QString BeschreibungRTF, const QString& Zielverzeichnis)
{
    // Within one evaluation the record of the module is rebuilt from the same arguments and the
    // same remembered installed version for every update, so the stored one is already right.
    const bool recordStored =
        FMemoScopes > 0 && FLastModule && FLastModule->ModulNr == ModulNr &&
        FLastModule->Hauptversion == Hauptversion && FLastModule->ModulName == ModulName &&
        FLastModule->Zielverzeichnis == Zielverzeichnis && FModulDictionary.contains(ModulNr);
    TModulInformation modul;
    if (!recordStored) {
        // The product was renamed; older descriptors still carry the old name.
        modul.Modulbezeichnung = QString(ModulName).replace(QLatin1String("KTVO"), QLatin1String("Zahlwerk"));
        modul.Hauptversion = Hauptversion;
        modul.Zielverzeichnis = Zielverzeichnis;
        modul.XMLFilename = QStringLiteral("update_%1_%2.xml").arg(ModulNr).arg(Hauptversion);
        // Read before anything is stored, so that an unreadable file leaves the catalog unchanged.
        LocalVersion(Zielverzeichnis, ModulNr, modul);
    }

    auto node = std::make_unique<TUpdateNode>(std::move(Dateiname), StillesUpdate == QLatin1String("ja"),
                                              StrToUpdateTyp(Typ), std::move(LizenzURL),
                                              StrToIntDef(UpdaterVersion, -1), std::move(BeschreibungRTF));

    if (!recordStored) {
        FModulDictionary.insert_or_assign(ModulNr, std::move(modul));
        if (FMemoScopes > 0)
            FLastModule = TLastModule{ModulName, ModulNr, Hauptversion, Zielverzeichnis};
    }
    FUpdateDictionary.insert_or_assign(TUpdateIdentifier{ModulNr, Nebenversion, Unterversion},
                                       std::move(node));
}

void TUpdates::RemoveOutdatedUpdates()
{
    QList<TUpdateIdentifier> outdated;
    for (const auto& [key, node] : FUpdateDictionary) {
        qint32 localNeben = 0;
        qint32 localUnter = 0;
        if (const auto modul = FModulDictionary.find(key.ModulNr); modul != FModulDictionary.end()) {
            localNeben = modul->second.LocalNebenversion;
            localUnter = modul->second.LocalUnterversion;
        }
        if (key.Nebenversion < localNeben ||
            (key.Nebenversion == localNeben && key.Unterversion <= localUnter))
            outdated.append(key);
    }
    for (const TUpdateIdentifier& key : outdated)
        FUpdateDictionary.erase(key);
}

QList<TUpdateIdentifier> TUpdates::SortedUpdateKeys() const
{
    QList<TUpdateIdentifier> keys;
    keys.reserve(static_cast<qsizetype>(FUpdateDictionary.size()));
    for (const auto& entry : FUpdateDictionary)
        keys.append(entry.first);
    std::sort(keys.begin(), keys.end());
    return keys;
}

void TUpdates::CreateCommandLineParameters()
{
    for (const auto& [key, node] : FUpdateDictionary) {
        const auto modul = FModulDictionary.find(key.ModulNr);
        const TModulInformation record =
            modul != FModulDictionary.end() ? modul->second : TModulInformation{};
        node->SetCommandLineParam(FormatJobLine(GetTempDir(), key, *node, record));
    }
}

void TUpdates::WriteRTFFiles()
{
    for (const TUpdateIdentifier& key : SortedUpdateKeys()) {
        const auto modul = FModulDictionary.find(key.ModulNr);
        const qint32 hauptversion = modul != FModulDictionary.end() ? modul->second.Hauptversion : 0;
        TUserLog::SaveTempEntry(key.ModulNr, hauptversion, key.Nebenversion, key.Unterversion,
                                ConvertRTFToText(FUpdateDictionary.at(key)->BeschreibungRTF()));
    }
}

TUpdateTyp TUpdates::StrToUpdateTyp(const QString& Typ)
{
    if (Typ == QLatin1String("execute"))
        return TUpdateTyp::utExecute;
    if (Typ == QLatin1String("exec_on_restart"))
        return TUpdateTyp::utExec_on_restart;
    return TUpdateTyp::utNone;
}

TUpdates::TInstalledVersionMemo::TInstalledVersionMemo(TUpdates& updates) : FUpdates(updates)
{
    ++FUpdates.FMemoScopes;
}

TUpdates::TInstalledVersionMemo::~TInstalledVersionMemo()
{
    if (--FUpdates.FMemoScopes == 0) {
        FUpdates.FLocalVersionMemo.clear();
        FUpdates.FLastModule.reset();
    }
}

void TUpdates::LocalVersion(const QString& Zielverzeichnis, qint32 ModulNr, TModulInformation& modul)
{
    if (FMemoScopes == 0) {
        GetLocalVersion(Zielverzeichnis, ModulNr, modul.LocalHauptversion, modul.LocalNebenversion,
                        modul.LocalUnterversion);
        return;
    }
    auto key = std::make_pair(Zielverzeichnis, ModulNr);
    auto known = FLocalVersionMemo.find(key);
    if (known == FLocalVersionMemo.end()) {
        // An unreadable file raises here and is not remembered: every attempt reports it.
        TLocalVersion read;
        GetLocalVersion(Zielverzeichnis, ModulNr, read.Haupt, read.Neben, read.Unter);
        known = FLocalVersionMemo.emplace(std::move(key), read).first;
    }
    modul.LocalHauptversion = known->second.Haupt;
    modul.LocalNebenversion = known->second.Neben;
    modul.LocalUnterversion = known->second.Unter;
}

void TUpdates::GetLocalVersion(const QString& Zielverzeichnis, qint32 ModulNr, qint32& LocalHauptversion,
                               qint32& LocalNebenversion, qint32& LocalUnterversion)
{
    const QString file =
        Zielverzeichnis + QStringLiteral("siteinfo_") + QString::number(ModulNr) + QStringLiteral(".ini");
    LocalHauptversion = StrToIntDef(GetStrInfoFromIni(file, QStringLiteral("hauptversion")), 0);
    LocalNebenversion = StrToIntDef(GetStrInfoFromIni(file, QStringLiteral("nebenversion")), 0);
    LocalUnterversion = StrToIntDef(GetStrInfoFromIni(file, QStringLiteral("unterversion")), 0);
}
