#pragma once
// gtest prints Qt texts as the texts they are, not as bytes of an object.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '{';
  for (qsizetype i = 0; i < list.size(); ++i) {
    if (i > 0) *os << ", ";
    PrintTo(list[i], os);
  }
  *os << '}';
}
