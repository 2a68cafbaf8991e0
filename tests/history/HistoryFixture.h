// A temporary replacement system and history database per test, and a way
// to read the database back with the sqlite3 shell in its own process.
#pragma once

#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "history/RegistryChangeHistory.h"
#include "platform/vtPlatform.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>

namespace historytest
{

namespace fs = std::filesystem;

inline TMemoryStream stream(const std::vector<uint8_t> &bytes)
{
    TMemoryStream s;
    s.bytes = bytes;
    return s;
}

inline std::vector<uint8_t> bytesOf(const std::string &s, bool nul = false)
{
    std::vector<uint8_t> b(s.begin(), s.end());
    if (nul)
        b.push_back(0);
    return b;
}

inline void writeRaw(HKEY root, const std::string &path, const std::string &name, uint32_t code,
                     const std::vector<uint8_t> &bytes)
{
    TMyRegistry reg;
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey(path, true)) << path;
    reg.writeValue(name, code, bytes);
}

inline bool readRaw(HKEY root, const std::string &path, const std::string &name, uint32_t &code,
                    std::vector<uint8_t> &bytes)
{
    TMyRegistry reg;
    reg.SetRootKey(root);
    return reg.OpenKeyReadOnly(path) && reg.readValue(name, code, bytes);
}

// Rows of a query as the sqlite3 shell prints them in JSON mode.
inline QJsonArray shellQuery(const fs::path &db, const std::string &sql)
{
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    EXPECT_FALSE(shell.isEmpty()) << "the sqlite3 shell is missing; scripts/setup installs it";
    if (shell.isEmpty())
        return {};
    QProcess p;
    p.start(shell, {QStringLiteral("-json"), QString::fromStdString(db.string()), QString::fromStdString(sql)});
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QByteArray out = p.readAllStandardOutput();
    if (out.trimmed().isEmpty())
        return {};
    return QJsonDocument::fromJson(out).array();
}

inline std::string shellScalar(const fs::path &db, const std::string &sql)
{
    const QJsonArray rows = shellQuery(db, sql);
    if (rows.isEmpty())
        return {};
    const QJsonObject row = rows[0].toObject();
    return row.begin()->toVariant().toString().toStdString();
}

class HistoryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::random_device rd;
        m_dir = fs::temp_directory_path() / ("vt-history-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(m_dir);
        vt::platform::SystemOptions options;
        options.root = (m_dir / "system").string();
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
        vt::history::SetStartupTimeZoneBias(-60);
    }
    void TearDown() override
    {
        m_store.reset();
        vt::platform::closeSystem();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path dbPath() const { return m_dir / "appdata" / "Brakmoor" / "Vantrel" / "history.sqlite"; }
    vt::history::TRegistryChangeHistory &store()
    {
        if (!m_store)
            m_store = std::make_unique<vt::history::TRegistryChangeHistory>(dbPath().string());
        return *m_store;
    }
    void reload()
    {
        store().Clear();
        store().LoadAll();
    }

    fs::path m_dir;
    std::unique_ptr<vt::history::TRegistryChangeHistory> m_store;
};

} // namespace historytest
