// The busy-application table and the two checks built on one reading of the process list.
#include "core/services/BusyCheck.h"

#include "core/services/Log.h"

#include <array>

namespace {

using namespace std::string_view_literals;

// Applications installed in two flavours carry an ".aipexe" twin right after their ".exe" row.
constexpr std::array<TBusyApplication, 35> BusyApplications{{
    {u"Buchhaltung.exe"sv, u"Vorlandt-Buchhaltung"sv},
    {u"LohnGehalt.exe"sv, u"Vorlandt-Lohn && Gehalt"sv},
    {u"Faktura.exe"sv, u"Vorlandt-Faktura"sv},
    {u"Kassenbuch.exe"sv, u"Vorlandt-Kassenbuch"sv},
    {u"Anlagen.exe"sv, u"Vorlandt-Anlagenverwaltung"sv},
    {u"Adressen.exe"sv, u"Vorlandt-Adressverwaltung"sv},
    {u"Mahnwesen.exe"sv, u"Vorlandt-Mahnwesen"sv},
    {u"Zahlungsverkehr.exe"sv, u"Vorlandt-Zahlungsverkehr"sv},
    {u"Auftrag.exe"sv, u"Vorlandt-Auftragsbearbeitung"sv},
    {u"Lager.exe"sv, u"Vorlandt-Lagerverwaltung"sv},
    {u"Bestellwesen.exe"sv, u"Vorlandt-Bestellwesen"sv},
    {u"Kalkulation.exe"sv, u"Vorlandt-Kalkulation"sv},
    {u"Zeiterfassung.EXE"sv, u"Vorlandt-Zeiterfassung"sv},
    {u"Vereinsverwaltung.exe"sv, u"Vorlandt-Vereinsverwaltung"sv},
    {u"Vereinsverwaltung.aipexe"sv, u"Vorlandt-Vereinsverwaltung"sv},
    {u"Fahrtenbuch.exe"sv, u"Vorlandt-Fahrtenbuch"sv},
    {u"Steuer.exe"sv, u"Vorlandt-Einkommensteuer"sv},
    {u"Steuer.aipexe"sv, u"Vorlandt-Einkommensteuer"sv},
    {u"Hausverwaltung.exe"sv, u"Vorlandt-Hausverwaltung"sv},
    {u"Hausverwaltung.aipexe"sv, u"Vorlandt-Hausverwaltung"sv},
    {u"Reisekosten.exe"sv, u"Vorlandt-Reisekosten"sv},
    {u"Formulare.exe"sv, u"Vorlandt-Formularcenter"sv},
    {u"Rechnung.exe"sv, u"Vorlandt-Rechnungsdruck"sv},
    {u"Rechnung.aipexe"sv, u"Vorlandt-Rechnungsdruck"sv},
    {u"Projekt.exe"sv, u"Vorlandt-Projektverwaltung"sv},
    {u"Termin.exe"sv, u"Vorlandt-Terminplaner"sv},
    {u"Serienbrief.exe"sv, u"Vorlandt-Serienbriefe"sv},
    {u"Abschluss.exe"sv, u"Vorlandt-Jahresabschluss"sv},
    {u"Kassensystem.exe"sv, u"Vorlandt-Kassensystem"sv},
    {u"Kassensystem.aipexe"sv, u"Vorlandt-Kassensystem"sv},
    {u"Handwerk.exe"sv, u"Vorlandt-Handwerkerpaket"sv},
    {u"Handwerk.aipexe"sv, u"Vorlandt-Handwerkerpaket"sv},
    {u"Datensicherung.exe"sv, u"Vorlandt-Datensicherung"sv},
    {u"Warenwirtschaft.exe"sv, u"Vorlandt-Warenwirtschaft"sv},
    {u"Warenwirtschaft.aipexe"sv, u"Vorlandt-Warenwirtschaft"sv},
}};

// The table is hand-written data: catch a slip in it when it is compiled, not at a customer's.
constexpr bool KeysUnique()
{
    for (std::size_t i = 0; i < BusyApplications.size(); ++i)
        for (std::size_t j = i + 1; j < BusyApplications.size(); ++j)
            if (BusyApplications[i].exeName == BusyApplications[j].exeName)
                return false;
    return true;
}
static_assert(KeysUnique(), "two rows of the busy-application table share an executable name");

constexpr bool TwinsFollowTheirExe()
{
    constexpr std::u16string_view aip = u".aipexe";
    constexpr std::u16string_view exe = u".exe";
    for (std::size_t i = 0; i < BusyApplications.size(); ++i) {
        const TBusyApplication& row = BusyApplications[i];
        if (!row.exeName.ends_with(aip))
            continue;
        if (i == 0)
            return false;
        const TBusyApplication& previous = BusyApplications[i - 1];
        const std::u16string_view base = row.exeName.substr(0, row.exeName.size() - aip.size());
        if (previous.exeName.substr(0, base.size()) != base || previous.exeName.substr(base.size()) != exe ||
            previous.displayName != row.displayName)
            return false;
    }
    return true;
}
static_assert(TwinsFollowTheirExe(), "an .aipexe row must follow the .exe row of the same application");

constexpr bool DisplayNamesCarryTheMakerWord()
{
    for (const TBusyApplication& row : BusyApplications)
        if (!row.displayName.starts_with(u"Vorlandt-") || row.displayName.size() == 9)
            return false;
    return true;
}
static_assert(DisplayNamesCarryTheMakerWord(), "display names read \"Vorlandt-\" + application name");

bool NameMatches(const QString& processName, const QString& wanted)
{
    if (processName.isEmpty())
        return false;
    return platform::SameProcessName(platform::ProcessFileNamePart(processName), wanted) ||
           platform::SameProcessName(processName, wanted);
}

}  // namespace

std::span<const TBusyApplication> BusyApplicationTable()
{
    return BusyApplications;
}

bool processExists(const QString& name)
{
    return processExists(name, platform::ProcessList::Read());
}

bool processExists(const QString& name, const platform::ProcessList& snapshot)
{
    return LoggedCall<bool>(QStringLiteral("processExists - Überprüfung auf Prozess \"") + name + u'"',
                            QStringLiteral("processExists - Ende - Result: "), [&] {
                                // An empty name names no program; without this guard a process name ending in
                                // a separator would have an empty file-name part and "match".
                                if (name.isEmpty() || !snapshot.readable())
                                    return false;
                                for (const platform::ProcessList::Entry& entry : snapshot.entries()) {
                                    if (NameMatches(entry.exePath, name) || NameMatches(entry.argv0, name))
                                        return true;
                                }
                                return false;
                            });
}

QString VorlandtProzesseAktiv()
{
    return VorlandtProzesseAktiv(platform::ProcessList::Read());
}

QString VorlandtProzesseAktiv(const platform::ProcessList& snapshot)
{
    return LoggedCall<QString>(QStringLiteral("VorlandtProzesseAktiv - Start"),
                               QStringLiteral("VorlandtProzesseAktiv - Ende - Result: "),
                               [&](QString& result) {
                                   for (const TBusyApplication& row : BusyApplications) {
                                       if (processExists(QStringView(row.exeName).toString(), snapshot)) {
                                           result += QStringLiteral("    ");
                                           result += QStringView(row.displayName);
                                           result += QStringLiteral("\r\n");
                                       }
                                   }
                                   while (!result.isEmpty() && result.back().unicode() <= 32)
                                       result.chop(1);
                               });
}
