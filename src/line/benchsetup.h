#pragma once

#include <QString>
#include <optional>

// A bench's whole set-up in one small INI file, so that a second PC is set up
// by opening it. Paths inside the file's folder are stored relative to it, so
// a folder holding the set-up, the settings file and the journal moves whole.
struct BenchSetup
{
    static constexpr const char *extension = ".lorta-bench";
    static constexpr int maxQuarantine = 99;
    static constexpr int maxGoneAfterSeconds = 600;

    int job = 0; // 0: flash, 1: load settings
    QString settingsFile;
    QString provisionFile; // the provisioning table; empty: none
    QString provisionDb;   // a provisioning table on the floor's server, by name; empty: none
    QString database;      // the floor's server, a libpq conninfo; empty: the journal alone
    QString filter;
    QString journalFile;
    QString benchName;
    bool startAtLaunch = false;
    int quarantine = 3;        // failures in a row; 0: never
    int goneAfterSeconds = 10; // silence after which the modem is gone; 0: never

    // Why the set-up cannot be used as it is: a conninfo with a password (it
    // would be written in clear) or not one libpq reads, or two tables at once;
    // empty when none.
    QString problem() const;
    // Writes the file; false with a Russian reason.
    bool save(const QString &fileName, QString *error) const;
    // Reads and checks the whole file; nothing on a missing, unreadable or bad
    // one, with a Russian reason.
    static std::optional<BenchSetup> load(const QString &fileName, QString *error);
};
