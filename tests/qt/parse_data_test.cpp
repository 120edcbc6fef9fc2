// ParseData on real files: every failure row and the configuration cases.
#include "../trailer_bytes.h"
#include "test_support.h"
#include "tqwiz.h"

#include <QTemporaryDir>

using namespace trailer_bytes;

namespace {

const char kProgram[] = "\x7f"
                        "ELF stand-in program bytes";
constexpr int32_t kUntouched = 777;

QByteArray bytes(const std::string &text)
{
    return QByteArray(text.data(), int(text.size()));
}

std::string lengthWord(uint32_t value)
{
    std::string out;
    put32(out, value);
    return out;
}

} // namespace

class ParseDataTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString fileWith(const QByteArray &contents)
    {
        QString path = dir.filePath(QString::number(qHash(contents)));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(contents);
        return path;
    }

private slots:
    void failures_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("length");

        const QByteArray program(kProgram);
        const QString read = "\nReading deb file";
        QTest::newRow("shorter than the length word")
            << QByteArray("abc") << QStringList{"\nSeek failed for data length"} << kUntouched;
        QTest::newRow("no trailer: ends in four zero bytes")
            << program + QByteArray(4, '\0')
            << QStringList{"\nDebian data length :0", "\nInvalid value of Deb data length value - 0"} << kUntouched;
        QTest::newRow("length beyond the file")
            << program + bytes(lengthWord(5000))
            << QStringList{"\nDebian data length :5000", "\nSeek failed for reading the deb file"} << 5000;
        const std::string notUserData = "NOT_USERDATA" + std::string(24, 'x') + lengthWord(40);
        QTest::newRow("no identifier") << program + bytes(notUserData)
                                       << QStringList{"\nDebian data length :40", read,
                                                      "\nHeader Identified not found in data"}
                                       << 40;
        std::string broken = workedExample();
        broken[9] = 3; // three sections declared, one present
        QTest::newRow("container parse fails")
            << program + bytes(broken) << QStringList{"\nDebian data length :40", read, "Failed to parse the data"}
            << 40;
        const std::string noSection0 = trailer(1, section(4, 2, element(0, "") + element(1, "abc")));
        QTest::newRow("no section 0") << program + bytes(noSection0)
                                      << QStringList{"\nDebian data length :40", read,
                                                     "Invalid configuration data. Config section not found. "}
                                      << 40;
        const std::string noElement0 = trailer(1, section(0, 2, element(3, "") + element(1, "abc")));
        QTest::newRow("no element 0 in section 0")
            << program + bytes(noElement0)
            << QStringList{"\nDebian data length :40", read, "Invalid configuration data. Config section not found. "}
            << 40;
    }

    void failures()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QStringList, lines);
        QFETCH(int, length);
        std::string configuration = "kept";
        int32_t dataLength = kUntouched;
        QStringList messages{"earlier line"};

        QVERIFY(!ParseData(fileWith(contents).toUtf8().constData(), configuration, dataLength, messages));
        QCOMPARE(messages, QStringList{"earlier line"} + lines);
        QCOMPARE(dataLength, length);
        QCOMPARE(configuration, std::string("kept"));
    }

    void aMissingFile()
    {
        std::string configuration;
        int32_t dataLength = kUntouched;
        QStringList messages;
        QVERIFY(!ParseData(dir.filePath("absent").toUtf8().constData(), configuration, dataLength, messages));
        QCOMPARE(messages, QStringList{"\nFile not found"});
        QCOMPARE(dataLength, kUntouched);
    }

    void configurations_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("configuration");
        QTest::addColumn<int>("length");

        const QByteArray program(kProgram);
        QTest::newRow("worked example") << program + bytes(workedExample()) << QByteArray("abc") << 3;
        QTest::newRow("a trailer is the whole file") << bytes(workedExample()) << QByteArray("abc") << 3;
        QTest::newRow("empty element 1") << program + bytes(trailer(1, section(0, 2, element(0, "") + element(1, ""))))
                                         << QByteArray() << 0;
        const std::string onlyElement0 = trailer(1, section(0, 1, element(0, "")));
        QTest::newRow("element 0 only: length stays N")
            << program + bytes(onlyElement0) << QByteArray() << int(onlyElement0.size());
        const std::string withNul("key=1\0more\n", 11);
        QTest::newRow("NUL bytes kept") << program
                                               + bytes(trailer(1, section(0, 2, element(0, "") + element(1, withNul))))
                                        << bytes(withNul) << 11;
        QTest::newRow("repeated element 1: last wins")
            << program + bytes(trailer(1, section(0, 3, element(1, "old") + element(0, "") + element(1, "newer"))))
            << QByteArray("newer") << 5;
        const std::string several
            = trailer(3, section(9, 1, element(1, "nine")) + section(0, 2, element(0, "") + element(1, "zero"))
                             + section(5, 1, element(1, "five")));
        QTest::newRow("section 0 among others") << program + bytes(several) << QByteArray("zero") << 4;

        // Records that end before the file does: the length word counts the extra bytes too.
        std::string records = workedExample();
        records += "junk";
        records += lengthWord(uint32_t(records.size() + 4));
        QTest::newRow("extra bytes before the length word") << program + bytes(records) << QByteArray("abc") << 3;
    }

    void configurations()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, configuration);
        QFETCH(int, length);
        std::string output = "pre-";
        int32_t dataLength = kUntouched;
        QStringList messages;

        QVERIFY(ParseData(fileWith(contents).toUtf8().constData(), output, dataLength, messages));
        QCOMPARE(bytes(output), "pre-" + configuration);
        QCOMPARE(dataLength, length);
        QCOMPARE(messages.size(), 2);
        QVERIFY(messages.at(0).startsWith("\nDebian data length :"));
        QCOMPARE(messages.at(1), QStringLiteral("\nReading deb file"));
    }

    void workedExampleMessagesExactly()
    {
        std::string output;
        int32_t dataLength = 0;
        QStringList messages;
        QVERIFY(ParseData(fileWith(QByteArray(kProgram) + bytes(workedExample())).toUtf8().constData(), output,
                          dataLength, messages));
        QCOMPARE(messages, (QStringList{"\nDebian data length :40", "\nReading deb file"}));
    }
};

QTEST_GUILESS_MAIN(ParseDataTest)
#include "parse_data_test.moc"
