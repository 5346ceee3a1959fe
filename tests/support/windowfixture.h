#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

#include "vardolux.h"

#include "model.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// What the window tests share: the settings of the run in a folder of their own, a fresh folder
// of files for every test function, a window, and what its table shows. A test class derives
// from it and calls setUpSettings() from initTestCase(), freshFiles() from init() and
// dropFiles() from cleanup().
//
// Header only: it reads the window's members (the window names it a friend), and the test
// support library is also linked where there is no window (benchmarks, fuzzers).
class WindowFixture
{
protected:
    static inline const QString Organisation = QStringLiteral("vardolux.example");
    static inline const QString Application = QStringLiteral("Vardolux");
    // Every key the window writes: its own three, then the Protocol toolbar's.
    static inline const QStringList WrittenKeys{
            "poll",           "pos",          "sacn/protocolOnShow", "sacn/sendPriority",
            "sacn/showPreview", "sacn/universe", "sacn/watchList",     "size"};

    void setUpSettings()
    {
        QVERIFY2(m_settingsDirectory.isValid(), qPrintable(m_settingsDirectory.errorString()));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDirectory.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDirectory.path());
        QLoggingCategory::setFilterRules(QStringLiteral("vardolux.file.debug=false"));
    }

    void freshFiles()
    {
        QSettings settings(Organisation, Application);
        settings.clear();
        settings.sync();
        m_files = std::make_unique<QTemporaryDir>();
        QVERIFY2(m_files->isValid(), qPrintable(m_files->errorString()));
    }

    void dropFiles() { m_files.reset(); }

    std::unique_ptr<Vardolux> makeWindow() { return std::make_unique<Vardolux>(); }

    static QString cellText(const Vardolux &window, int row, int column)
    {
        return window.model->data(window.model->index(row, column), Qt::DisplayRole).toString();
    }

    static QStringList allCellTexts(const Vardolux &window)
    {
        QStringList texts;
        for (int row = 0; row < 32; ++row)
            for (int column = 0; column < 16; ++column)
                texts << cellText(window, row, column);
        return texts;
    }

    static QByteArray fileBytes(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray("<cannot open ") + path.toLocal8Bit() + ">";
        return file.readAll();
    }

    void showFrame(Vardolux &window, const QByteArray &levels)
    {
        window.showFrame(reinterpret_cast<const unsigned char *>(levels.constData()),
                         quint16(levels.size()));
    }

    QTemporaryDir m_settingsDirectory;
    std::unique_ptr<QTemporaryDir> m_files;
};

#endif // WINDOWFIXTURE_H
