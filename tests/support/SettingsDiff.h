// The settings file against plain QSettings, for the seeded differential test. Input bytes are read
// twice: as a recipe for values ("group:key=value" lines; a value "*a|b" is a list, "#..." bytes,
// \x01 a lone surrogate, \x02 a NUL), and as a hand-written settings file.
#pragma once

#include "Configuration.h"
#include "IniTextFormat.h"
#include "SettingsStore.h"

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace Tarvo::Testing {

class SettingsDiff
{
public:
    using Map = QSettings::SettingsMap;
    using StoredValue = IniTextFormat::StoredValue;

    explicit SettingsDiff(const QString &folder) : m_dir(folder + QStringLiteral("/ini-XXXXXX"))
    {
        IniTextFormat::format();
    }

    QString check(const QByteArray &input)
    {
        Map map, texts;
        for (const QByteArray &piece : input.split('\n')) {
            const qsizetype equals = piece.indexOf('=');
            QString key = QString::fromUtf8(piece.first(std::max<qsizetype>(equals, 0)));
            key.replace(u'/', u'_');
            if (const qsizetype colon = key.indexOf(u':'); colon > 0 && colon + 1 < key.size())
                key[colon] = u'/';
            const QByteArray raw = piece.sliced(equals + 1);
            const QString text =
                QString::fromUtf8(raw).replace(QChar(1), QChar(0xD800)).replace(QChar(2), QChar(0));
            if (key.isEmpty())
                continue;
            map[key] = raw.startsWith('*')   ? QVariant(text.sliced(1).split(u'|'))
                       : raw.startsWith('#') ? QVariant(raw.sliced(1))
                                             : QVariant(text);
            if (!raw.startsWith('*'))
                texts[key] = map[key].toString();
        }
        const QByteArray plainFile = plainWrite(map);
        const Map plain = plainRead(plainFile), ours = read(plainFile);
        if (ours.keys() != plain.keys())
            return QStringLiteral("a file plain QSettings wrote reads as other keys");
        for (auto it = plain.begin(); it != plain.end(); ++it) {
            // A list (of texts, or of values) is taken whole here, by design.
            const bool list =
                it->typeId() == QMetaType::QStringList || it->typeId() == QMetaType::QVariantList;
            if (!list && ours[it.key()].toString() != it->toString())
                return QStringLiteral("a value plain QSettings wrote reads otherwise: ") + it.key();
        }
        QBuffer written;
        written.open(QIODevice::WriteOnly);
        IniTextFormat::write(written, texts);
        if (plainRead(written.data()) != texts || !sameTexts(read(written.data()), texts))
            return QStringLiteral("a text written here reads back otherwise");
        if (std::any_of(written.data().begin(), written.data().end(),
                        [](char c) { return uchar(c) < 0x20 && c != '\n'; }))
            return QStringLiteral("a control character is written as it is, not escaped");
        QString failure = checkSaved(plainFile, plain);
        return failure.isEmpty() && input.contains('=') ? checkSaved(input, {}) : failure;
    }

    static Map read(const QByteArray &file)
    {
        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        Map map;
        IniTextFormat::read(buffer, map);
        return map;
    }

private:
    QTemporaryDir m_dir;
    int m_serial = 0;

    // Each file under a name of its own: QSettings keeps a parse by name.
    QString place(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QString::number(++m_serial));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }
    static QByteArray take(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        file.remove();
        return bytes;
    }
    // Keys such as "/k" from "[]" are listed but cannot be looked up: they read as nothing, here as
    // there.
    Map plainRead(const QByteArray &file)
    {
        const QString path = place(file);
        Map map;
        for (const QSettings plain(path, QSettings::IniFormat);
             const QString &key : plain.allKeys())
            map[key] = plain.value(key);
        take(path);
        return map;
    }
    QByteArray plainWrite(const Map &map)
    {
        const QString path = place({});
        {
            QSettings plain(path, QSettings::IniFormat);
            for (auto it = map.begin(); it != map.end(); ++it)
                plain.setValue(it.key(), *it);
        }
        return take(path);
    }
    // What plain QSettings reads of one entry in a file of its own; none for a list.
    std::optional<QString> plainAlone(const StoredValue &entry)
    {
        const Map one = plainRead("[g]\n" + entry.line + '\n');
        const bool text = one.size() == 1 && one.first().typeId() != QMetaType::QStringList &&
                          one.first().typeId() != QMetaType::QVariantList;
        return text ? std::optional(one.first().toString()) : std::nullopt;
    }
    static bool reachable(const QString &key)
    {
        return !key.startsWith(u'/') && !key.endsWith(u'/') && !key.contains(QStringLiteral("//"));
    }
    static bool sameTexts(const Map &read, const Map &texts)
    {
        for (auto it = texts.begin(); it != texts.end(); ++it)
            if (read[it.key()].toString() != it->toString())
                return false;
        return read.keys() == texts.keys();
    }

    // Loads the file into a model, changes one name, saves it over the file. `plainBefore` is what
    // plain QSettings read of it, when it wrote it.
    QString checkSaved(const QByteArray &file, const Map &plainBefore)
    {
        Configuration model, again;
        const QString path = place(file);
        SettingsStore(path).LoadSettings(model);
        model.DownloadList[0].Name += QStringLiteral(" ;\"x\\");
        if (QString error; !SettingsStore(path).SaveSettings(model, error))
            return QStringLiteral("not saved: ") + error;
        SettingsStore(path).LoadSettings(again);
        const QByteArray saved = take(path);
        if (again != model)
            return QStringLiteral("a saved model loads back otherwise");

        static const QRegularExpression owned(QStringLiteral(
            "^(Settings/(Modem Port|Job)|Dnld[1-8]/(Name|Open From)|File[1-8]/(Name|Save As))$"));
        const Map before = read(file), after = read(saved), plainAfter = plainRead(saved);
        if (after.keys() != plainAfter.keys())
            return QStringLiteral("plain QSettings reads the saved file as other keys");
        for (auto it = before.begin(); it != before.end(); ++it) {
            const auto was = it->value<StoredValue>(), now = after[it.key()].value<StoredValue>();
            if (!owned.match(it.key()).hasMatch() &&
                (!after.contains(it.key()) || now.text != was.text))
                return QStringLiteral("a foreign entry was lost or changed: ") + it.key();
            // Only an owned entry that plain QSettings reads otherwise is written afresh.
            const bool mended = owned.match(it.key()).hasMatch() && plainAlone(was) != was.text;
            if (was.stands && now.text == was.text && now.line != was.line && !mended)
                return QStringLiteral("an entry read and not changed was rewritten: ") + it.key();
        }
        for (auto it = after.begin(); it != after.end(); ++it) {
            const auto now = it->value<StoredValue>(), was = before[it.key()].value<StoredValue>();
            const bool kept = before.contains(it.key()) && now.line == was.line;
            if (!reachable(it.key()))
                continue;
            if ((!kept || owned.match(it.key()).hasMatch()) &&
                plainAfter[it.key()].toString() != now.text)
                return QStringLiteral("plain QSettings reads a written value otherwise: ") +
                       it.key();
            if (kept && plainBefore.contains(it.key()) &&
                plainAfter[it.key()] != plainBefore[it.key()])
                return QStringLiteral("plain QSettings reads a kept entry otherwise: ") + it.key();
        }
        return QString();
    }
};

} // namespace Tarvo::Testing
