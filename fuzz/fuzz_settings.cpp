// Fuzz target for the settings file reader and writer. The input is
// "section NUL key NUL value NUL file": the names and the value are read as
// Latin-1, the file is any bytes (lone CRs, invalid UTF-8, NULs included).
// Properties of writing the value under the key:
//  - a refused write changes nothing;
//  - otherwise the key reads back as the value, every other key of the file
//    reads as before, every other line is byte for byte as it was (the old
//    last line may only gain a line end), and writing again changes nothing;
//  - a value read and written back unchanged leaves the bytes as they are;
//  - a group of values stored at once gives the bytes of storing them one
//    after the other (a key named twice once, with its later value).
#include "FuzzSupport.h"
#include "IniFile.h"

#include <QString>
#include <QStringDecoder>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct TLine {
    QByteArray text;
    QByteArray end;
    bool operator==(const TLine&) const = default;
};

std::vector<TLine> Lines(const QByteArray& bytes)
{
    std::vector<TLine> lines;
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype end = at;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < bytes.size())
            next += bytes.mid(next, 2) == "\r\n" ? 2 : 1;
        lines.push_back({bytes.mid(at, end - at), bytes.mid(end, next - end)});
        at = next;
    }
    return lines;
}

QString Decode(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// Every (section, key) pair the file names, as a reader of INI files sees it.
std::vector<std::pair<QString, QString>> Keys(const std::vector<TLine>& lines)
{
    std::vector<std::pair<QString, QString>> keys;
    QString section;
    bool inSection = false;
    for (const TLine& line : lines) {
        const QByteArray text = line.text.trimmed();
        if (text.startsWith('[') && text.endsWith(']') && text.size() >= 2) {
            section = Decode(text.mid(1, text.size() - 2));
            inSection = true;
        } else if (inSection && text.contains('=') && !text.startsWith(';') && !text.startsWith('#')) {
            keys.emplace_back(section, Decode(line.text.left(line.text.indexOf('='))));
        }
    }
    return keys;
}

QByteArray Field(const uint8_t*& data, size_t& size)
{
    size_t n = 0;
    while (n < size && data[n] != 0)
        ++n;
    QByteArray field(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
    const size_t taken = n < size ? n + 1 : n;
    data += taken;
    size -= taken;
    return field;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString section = QString::fromLatin1(Field(data, size));
    const QString key = QString::fromLatin1(Field(data, size));
    // Values are read without their surrounding blanks and cut to the
    // longest string handed out, so only such values can read back as given.
    const QString value = QString::fromLatin1(Field(data, size).trimmed()).left(TIniText::MaxStringLength);
    const QByteArray original(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const std::vector<TLine> before = Lines(original);
    const auto keys = Keys(before);
    TIniText text(original);
    std::vector<std::optional<QString>> values;
    for (const auto& [s, k] : keys)
        values.push_back(text.Value(s, k));

    if (!keys.empty() && values[0] && values[0]->size() < TIniText::MaxStringLength) {
        TIniText same(original);
        Check(same.SetValue(keys[0].first, keys[0].second, *values[0]) != TIniText::TSetResult::Changed);
        Check(same.Bytes() == original);
    }

    // Storing a group of keys at once (a key of the file and the key) gives
    // the bytes of storing them one after the other; a key named twice is
    // stored once, with the later value.
    {
        const QString groupSection = keys.empty() ? section : keys[0].first;
        const QString first = keys.empty() ? key : keys[0].second;
        const TIniValues group{{first, value}, {key, value + 'x'}};
        const bool named = first.trimmed().compare(key.trimmed(), Qt::CaseInsensitive) == 0;
        bool refused = false;
        for (const auto& [k, v] : group)
            refused = refused || TIniText().SetValue(groupSection, k, v) == TIniText::TSetResult::Refused;
        TIniText together(original);
        const TIniText::TSetResult all = together.SetValues(groupSection, group);
        Check((all == TIniText::TSetResult::Refused) == refused);
        if (refused) {
            Check(together.Bytes() == original);
        } else {
            TIniText oneByOne(original);
            bool changed = false;
            for (qsizetype i = named ? 1 : 0; i < group.size(); ++i)
                changed = oneByOne.SetValue(groupSection, group[i].first, group[i].second)
                        == TIniText::TSetResult::Changed
                    || changed;
            Check((all == TIniText::TSetResult::Changed) == changed && together.Bytes() == oneByOne.Bytes());
        }
    }

    const TIniText::TSetResult result = text.SetValue(section, key, value);
    if (result != TIniText::TSetResult::Changed) {
        Check(text.Bytes() == original);
        return 0;
    }
    Check(text.Value(section, key) == value);
    const auto isWrittenKey = [&](const QString& s, const QString& k) {
        return s.trimmed().compare(section.trimmed(), Qt::CaseInsensitive) == 0
            && k.trimmed().compare(key.trimmed(), Qt::CaseInsensitive) == 0;
    };
    for (size_t i = 0; i < keys.size(); ++i) {
        if (!isWrittenKey(keys[i].first, keys[i].second))
            Check(text.Value(keys[i].first, keys[i].second) == values[i]);
    }

    // Lines before and after the change agree from both ends; in between
    // lies at most one old line: the written key's line, or the old last line
    // that gained a line end.
    const std::vector<TLine> after = Lines(text.Bytes());
    size_t head = 0;
    while (head < before.size() && head < after.size() && before[head] == after[head])
        ++head;
    size_t tail = 0;
    while (tail < before.size() - head && tail < after.size() - head
        && before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    Check(before.size() - head - tail <= 1);
    if (before.size() - head - tail == 1) {
        const TLine& old = before[head];
        const TLine& changed = after[head];
        const bool keyLine = old.text.contains('=') && changed.text.startsWith(old.text.left(old.text.indexOf('=') + 1));
        const bool gainedEnd = head + 1 == before.size() && old.end.isEmpty() && changed.text == old.text;
        Check(keyLine || gainedEnd);
    }

    const QByteArray written = text.Bytes();
    Check(text.SetValue(section, key, value) == TIniText::TSetResult::Unchanged);
    Check(text.Bytes() == written);
    return 0;
}
