// The update catalog of one run: every offered update keyed by module and version, one record
// per module with its installed version, read from the module's siteinfo file.
#pragma once

#include <QList>
#include <QString>

#include <compare>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

// The key of an update.
struct TUpdateIdentifier {
    qint32 ModulNr = 0;
    qint32 Nebenversion = 0;
    qint32 Unterversion = 0;

    friend bool operator==(const TUpdateIdentifier&, const TUpdateIdentifier&) = default;
    // Ascending by ModulNr, then Nebenversion, then Unterversion.
    friend std::strong_ordering operator<=>(const TUpdateIdentifier&, const TUpdateIdentifier&) = default;
};

template <>
struct std::hash<TUpdateIdentifier> {
    std::size_t operator()(const TUpdateIdentifier& id) const noexcept
    {
        std::size_t h = std::hash<qint32>{}(id.ModulNr);
        h ^= std::hash<qint32>{}(id.Nebenversion) + 0x9e3779b9u + (h << 6) + (h >> 2);
        h ^= std::hash<qint32>{}(id.Unterversion) + 0x9e3779b9u + (h << 6) + (h >> 2);
        return h;
    }
};

enum class TUpdateTyp : int { utNone = 0, utExecute = 1, utExec_on_restart = 2 };

// One offered update as the descriptor gives it.
class TUpdateNode {
public:
    TUpdateNode(QString dateiname, bool stillesUpdate, TUpdateTyp typ, QString lizenzURL,
                qint32 updaterVersion, QString beschreibungRTF);

    const QString& Dateiname() const { return FDateiname; }
    bool StillesUpdate() const { return FStillesUpdate; }
    TUpdateTyp Typ() const { return FTyp; }
    const QString& LizenzURL() const { return FLizenzURL; }
    // -1 when the descriptor gave none or no number.
    qint32 UpdaterVersion() const { return FUpdaterVersion; }
    const QString& BeschreibungRTF() const { return FBeschreibungRTF; }
    // The installer job line; empty until the hand-off fills it.
    const QString& CommandLineParam() const { return FCommandLineParam; }
    void SetCommandLineParam(const QString& value) { FCommandLineParam = value; }

private:
    QString FDateiname;
    bool FStillesUpdate = false;
    TUpdateTyp FTyp = TUpdateTyp::utNone;
    QString FLizenzURL;
    qint32 FUpdaterVersion = -1;
    QString FBeschreibungRTF;
    QString FCommandLineParam;
};

// One module that offered at least one update.
struct TModulInformation {
    QString Modulbezeichnung;
    QString XMLFilename;
    qint32 Hauptversion = 0;
    qint32 LocalHauptversion = 0;
    qint32 LocalNebenversion = 0;
    qint32 LocalUnterversion = 0;
    QString Zielverzeichnis;  // ends with "/"
};

class TUpdates {
public:
    using TUpdateDictionary = std::unordered_map<TUpdateIdentifier, std::unique_ptr<TUpdateNode>>;
    using TModuleDictionary = std::unordered_map<qint32, TModulInformation>;

    TUpdates() = default;
    TUpdates(const TUpdates&) = delete;
    TUpdates& operator=(const TUpdates&) = delete;

    // While one of these lives, AddUpdate reads a module's installed-version file only once per
    // directory and module number: a descriptor of thousands of updates would otherwise read
    // (and log) the same small file thousands of times. Scopes nest; when the outermost one
    // ends, everything remembered is forgotten, so the next evaluation reads the file afresh.
    class TInstalledVersionMemo {
    public:
        explicit TInstalledVersionMemo(TUpdates& updates);
        ~TInstalledVersionMemo();
        TInstalledVersionMemo(const TInstalledVersionMemo&) = delete;
        TInstalledVersionMemo& operator=(const TInstalledVersionMemo&) = delete;

    private:
        TUpdates& FUpdates;
    };

    void Clear();

    // Records one offered update and (again) its module's record, with the installed version
    // read from Zielverzeichnis + "siteinfo_<ModulNr>.ini". The texts are the descriptor's raw
    // attribute texts. Raises EVorlandtError (kind InOut) when that file exists but cannot be
    // read; the catalog then stays as it was.
    void AddUpdate(const QString& ModulName, qint32 ModulNr, qint32 Hauptversion, qint32 Nebenversion,
                   qint32 Unterversion, QString Dateiname, const QString& StillesUpdate, const QString& Typ,
                   QString LizenzURL, const QString& UpdaterVersion, QString BeschreibungRTF,
                   const QString& Zielverzeichnis);

    // Keeps exactly the updates whose (Nebenversion, Unterversion) is above the installed one.
    void RemoveOutdatedUpdates();

    QList<TUpdateIdentifier> SortedUpdateKeys() const;

    // Gives every node its installer job line (FormatJobLine in catalog/JobHandOff.h).
    void CreateCommandLineParameters();
    // Leaves the plain text of every description as the update's temporary log entry, in the
    // order of SortedUpdateKeys; the first entry that cannot be written raises and ends it.
    void WriteRTFFiles();

    const TUpdateDictionary& UpdateDictionary() const { return FUpdateDictionary; }
    const TModuleDictionary& ModulDictionary() const { return FModulDictionary; }

private:
    static TUpdateTyp StrToUpdateTyp(const QString& Typ);
    static void GetLocalVersion(const QString& Zielverzeichnis, qint32 ModulNr, qint32& LocalHauptversion,
                                qint32& LocalNebenversion, qint32& LocalUnterversion);
    // GetLocalVersion, answered from the memo while a TInstalledVersionMemo is alive.
    void LocalVersion(const QString& Zielverzeichnis, qint32 ModulNr, TModulInformation& modul);

    struct TLocalVersion {
        qint32 Haupt = 0;
        qint32 Neben = 0;
        qint32 Unter = 0;
    };

    TUpdateDictionary FUpdateDictionary;
    TModuleDictionary FModulDictionary;
    // The arguments the module record stored last was built from, while a memo is alive.
    struct TLastModule {
        QString ModulName;
        qint32 ModulNr = 0;
        qint32 Hauptversion = 0;
        QString Zielverzeichnis;
    };

    int FMemoScopes = 0;
    std::map<std::pair<QString, qint32>, TLocalVersion> FLocalVersionMemo;
    std::optional<TLastModule> FLastModule;
};
