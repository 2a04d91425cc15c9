#pragma once
// The program's texts are Unicode in memory; files, settings and every byte
// limit use the GBK code page (code page 936).
#include <QByteArray>
#include <QString>

QByteArray ToGbk(const QString& text);
QString FromGbk(const QByteArray& bytes);
// Length of the text in GBK bytes (a Chinese character counts two).
int GbkLength(const QString& text);
// The longest run of whole leading characters whose GBK form fits in maxBytes.
// A double-byte character is never split.
QString GbkHead(const QString& text, int maxBytes);
// The longest run of whole trailing characters whose GBK form fits in maxBytes.
QString GbkTail(const QString& text, int maxBytes);
