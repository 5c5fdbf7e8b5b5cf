// The columns of a data-driven test named once, in one line each way: columns<int, QString>("size",
// "name") in the _data() function gives back row("tag", size, name), which adds a row with each
// value taken as its column's type; auto [size, name] = fetch<int, QString>("size", "name") in the
// test. A name or a type that does not match the table fails the test as QFETCH does. Clang lets a
// lambda capture such a binding only by name: [&name = name].
#pragma once

#include <QString>
#include <QTest>
#include <tuple>

namespace Tarvo::Testing {

template <typename... T, typename... Names> auto columns(Names... names)
{
    static_assert(sizeof...(T) == sizeof...(Names));
    (QTest::addColumn<T>(names), ...);
    return [](const QString &tag, const T &...values) {
        (QTest::newRow(tag.toUtf8().constData()) << ... << values);
    };
}

template <typename... T, typename... Names> std::tuple<T...> fetch(Names... names)
{
    static_assert(sizeof...(T) == sizeof...(Names));
    return {*static_cast<T *>(QTest::qData(names, qMetaTypeId<T>()))...};
}

} // namespace Tarvo::Testing
