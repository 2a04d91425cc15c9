#pragma once
// The program's texts are Unicode in memory; files, settings and every byte
// limit use the GBK code page (code page 936).
#include <QByteArray>
#include <QString>

// Characters GBK cannot hold become '?'.
QByteArray ToGbk(const QString& text);
// Whether GBK holds the character (a code point).
bool GbkHolds(char32_t c);
// The text with each character GBK lacks in the form GBK holds where it has
// one (its compatibility form: the micro sign µ as μ, half-width katakana
// as full-width); the rest as they are.
QString GbkCompatible(const QString& text);
// The distinct characters of the text that GBK holds in no form, in order
// of first appearance, at most max of them.
QString GbkUnheld(const QString& text, int max = 20);
QString FromGbk(const QByteArray& bytes);
// Length of the text in GBK bytes (a Chinese character counts two).
int GbkLength(const QString& text);
// The longest run of whole leading characters whose GBK form fits in maxBytes.
// A double-byte character is never split.
QString GbkHead(const QString& text, int maxBytes);
// The longest run of whole trailing characters whose GBK form fits in maxBytes.
QString GbkTail(const QString& text, int maxBytes);
