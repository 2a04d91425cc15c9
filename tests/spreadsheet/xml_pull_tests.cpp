// Workbook XML read token by token, by expat (XML 2003 files) and by the
// scanner of the zipped formats: what the readers ask of them, and what a
// stranger's document cannot make them do.
#include <gtest/gtest.h>

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/XmlPull.h"
#include "spreadsheet/ZipXml.h"
#include "support/SpreadsheetFixtures.h"

namespace {

// Bytes handed over a few at a time, as an inflating member hands them.
class TTrickle : public IByteSource {
 public:
  TTrickle(QByteArray bytes, std::int64_t step) : FBytes(std::move(bytes)), FStep(step) {}
  std::int64_t Read(char* into, std::int64_t max) override {
    const std::int64_t n = std::min({max, FStep, std::int64_t(FBytes.size()) - FPos});
    if (n <= 0) return 0;
    std::memcpy(into, FBytes.constData() + FPos, size_t(n));
    FPos += n;
    Reads += 1;
    return n;
  }
  int Reads = 0;

 private:
  QByteArray FBytes;
  std::int64_t FStep;
  std::int64_t FPos = 0;
};

// The tokens of a document as one line: <name a=v>, text, </name>.
QString Tokens(TXmlPull& x) {
  QString out;
  for (auto t = x.Next(); t != TXmlPull::EndDocument; t = x.Next()) {
    if (t == TXmlPull::Start) {
      out += QStringLiteral("<%1>").arg(x.Is("c") ? QStringLiteral("c r=%1").arg(x.Attr("r")) : QStringLiteral("e"));
    } else if (t == TXmlPull::End) {
      out += QStringLiteral("</>");
    } else {
      out += x.TextValue();
    }
  }
  return out;
}

// Why each parser refuses the document (empty when it reads it).
QString ExpatRefusal(const QByteArray& doc) {
  try {
    TXmlBytes x(doc, QStringLiteral("part.xml"));
    while (x.Next() != TXmlPull::EndDocument) {
    }
  } catch (const ESpreadsheetError& e) {
    return e.Text();
  }
  return {};
}

QString ScannerRefusal(const QByteArray& doc) {
  try {
    const TZipArchive zip(MakeStoredZip({{"part.xml", doc}}));
    TZipXml x(zip, QStringLiteral("part.xml"));
    while (x.Next() != TZipXml::EndDocument) {
    }
  } catch (const ESpreadsheetError& e) {
    return e.Text();
  }
  return {};
}

TEST(XmlPull, GivesElementsAttributesAndTextWithPrefixesAndEntitiesResolved) {
  TXmlBytes x(QByteArrayLiteral("<?xml version=\"1.0\"?><x:sheet xmlns:x=\"u\"><x:c x:r=\"A&amp;1\">a&lt;b&#x4E2D;"
                                "<![CDATA[<raw>]]></x:c><!-- note --><c r='B2'/></x:sheet>"),
              QStringLiteral("part.xml"));
  EXPECT_EQ(Tokens(x), QStringLiteral("<e><c r=A&1>a<b中<raw></><c r=B2></></>"));
}

// A text, a tag and an attribute cut across the chunks the source gives:
// each arrives whole.
TEST(XmlPull, PiecesOfTheSourceMakeNoDifference) {
  const QByteArray doc = "<sheet><c r=\"" + QByteArray(300000, 'A') + "\">" + QByteArray(700000, 'x') + "</c></sheet>";
  TTrickle source(doc, 4096);
  TXmlPull x(source, QStringLiteral("part.xml"));
  ASSERT_EQ(x.Next(), TXmlPull::Start);
  ASSERT_EQ(x.Next(), TXmlPull::Start);
  EXPECT_EQ(x.AttrBytes("r").size(), 300000);
  EXPECT_EQ(x.ElementText().size(), 700000);
  EXPECT_EQ(x.Next(), TXmlPull::End);
  EXPECT_EQ(x.Next(), TXmlPull::EndDocument);
}

// An unfinished tag is parsed again only as the chunks double: a tag of a
// few megabytes takes a few reads, not one per 256 KiB.
TEST(XmlPull, ALongTagTakesChunksThatGrowWithIt) {
  const QByteArray doc = "<sheet><row x=\"" + QByteArray(16 << 20, 'A') + "\"/></sheet>";
  TTrickle source(doc, INT64_MAX);
  TXmlPull x(source, QStringLiteral("part.xml"));
  while (x.Next() != TXmlPull::EndDocument) {
  }
  // 16 MiB from 256 KiB in doubling steps is 7 reads, and the end.
  EXPECT_LE(source.Reads, 10);
}

struct TRefusal {
  const char* name;
  QByteArray doc;
  const char* expat;    // what expat says; null: it reads the document
  const char* scanner;  // what the scanner says; null: it reads the document
};

class XmlRefusal : public ::testing::TestWithParam<TRefusal> {};

// Each refusal names the part and says why in words (expat with the place
// of a syntax error). The scanner is lenient where expat is strict but
// harmless (an unknown entity stays as it stands).
TEST_P(XmlRefusal, SaysWhyInChinese) {
  const TRefusal& c = GetParam();
  for (const auto& [said, expected] : {std::pair{ExpatRefusal(c.doc), c.expat}, std::pair{ScannerRefusal(c.doc), c.scanner}}) {
    if (!expected) {
      EXPECT_TRUE(said.isEmpty()) << said.toStdString();
      continue;
    }
    EXPECT_TRUE(said.contains(QStringLiteral("“part.xml”"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QString::fromUtf8(expected))) << said.toStdString();
    // Read as the UTF-8 it is: no character of the Latin-1 range.
    for (const QChar ch : said) EXPECT_FALSE(ch.unicode() >= 0x80 && ch.unicode() <= 0xFF) << said.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlRefusal,
    ::testing::Values(
        TRefusal{"Mismatch", "<a><b></a>", "结束标记与开始标记不符", "结束标记与开始标记不符"},
        TRefusal{"Unfinished", "<a><b>", "文件提前结束", "文件提前结束"},
        TRefusal{"Doctype", "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", "文档类型声明", "文档类型声明"},
        TRefusal{"UndefinedEntity", "<a>&nbsp;</a>", "未定义的实体", nullptr},
        TRefusal{"DuplicateAttribute", "<a x=\"1\" x=\"2\"/>", "属性出现了两次", nullptr},
        TRefusal{"TextAfterRoot", "<a/>b", "根元素之后还有内容", "元素之外有文字"},
        TRefusal{"UnquotedAttribute", "<a x=1/>", "第 1 行第 6 列", "属性值没有引号"},
        TRefusal{"Empty", "", "是空的", "是空的"},
        TRefusal{"Deep", QByteArray("<a>").repeated(300), "嵌套超过 256 层", "嵌套超过 256 层"},
        TRefusal{"LongTag", "<a x=\"" + QByteArray((64 << 20) + 1024, 'x'), "标记超过 64 MB", "一个标记超过 64 MB"},
        TRefusal{"LongText", "<a>" + QByteArray((64 << 20) + 1024, 'x') + "</a>", nullptr, "连续的文字或一个标记超过 64 MB"}),
    [](const auto& info) { return std::string(info.param.name); });

// The scanner hands out the same tokens as expat, in pieces of any size.
TEST(ZipXml, TokensAsExpatGivesThem) {
  const QByteArray doc = "<?xml version=\"1.0\"?><x:sheet xmlns:x=\"u\"><x:c x:r=\"B2\">a&lt;b&#x4E2D;\r\n"
                         "<![CDATA[<raw>]]></x:c><!-- note --><c r='C3'/></x:sheet>";
  const TZipArchive zip(MakeStoredZip({{"part.xml", doc}}));
  TZipXml x(zip, QStringLiteral("part.xml"));
  QString tokens;
  for (auto t = x.Next(); t != TZipXml::EndDocument; t = x.Next()) {
    if (t == TZipXml::Start) {
      tokens += x.Is("c") ? QStringLiteral("<c r=%1>").arg(x.Attr("r")) : QStringLiteral("<e>");
    } else if (t == TZipXml::End) {
      tokens += QStringLiteral("</>");
    } else {
      tokens += x.TextValue();
    }
  }
  EXPECT_EQ(tokens, QStringLiteral("<e><c r=B2>a<b中\n<raw></><c r=C3></></>"));
}

// A long tag and a long text, below the limit, are read whole; the work is
// linear (the 64 MB tag above is refused in about a second).
TEST(ZipXml, ALongTagAndALongTextReadWhole) {
  const QByteArray doc = "<sheet><c r=\"" + QByteArray(3 << 20, 'A') + "\">" + QByteArray(700000, 'x') + "</c></sheet>";
  const TZipArchive zip(MakeStoredZip({{"part.xml", doc}}));
  TZipXml x(zip, QStringLiteral("part.xml"));
  ASSERT_EQ(x.Next(), TZipXml::Start);
  ASSERT_EQ(x.Next(), TZipXml::Start);
  EXPECT_EQ(x.AttrRaw("r").size(), 3 << 20);
  EXPECT_EQ(x.ElementText().size(), 700000);
}

// ElementText is the reader's way to take a cell's value: a long text there
// is refused, not gathered.
TEST(XmlPull, ElementTextStopsAtTheLimitItIsGiven) {
  TXmlBytes x("<v>" + QByteArray(5000, 'x') + "</v>", QStringLiteral("part.xml"));
  ASSERT_EQ(x.Next(), TXmlPull::Start);
  EXPECT_THROW(x.ElementText(4000), ESpreadsheetError);
  const TZipArchive zip(MakeStoredZip({{"part.xml", "<v>" + QByteArray(5000, 'x') + "</v>"}}));
  TZipXml z(zip, QStringLiteral("part.xml"));
  ASSERT_EQ(z.Next(), TZipXml::Start);
  EXPECT_THROW(z.ElementText(4000), ESpreadsheetError);
}

}  // namespace
