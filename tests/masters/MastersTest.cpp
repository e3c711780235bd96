#include "masters/Fields.h"
#include "masters/Masters.h"

#include "support/TestSupport.h"

#include <set>

namespace kavelo::masters {
namespace {

QStringList columnsOf(const std::vector<Field>& fields)
{
    QStringList out;
    for (const Field& f : fields) {
        out << f.column;
    }
    return out;
}

QStringList columnsOf(const std::vector<ExportField>& fields)
{
    QStringList out;
    for (const ExportField& f : fields) {
        out << f.column;
    }
    return out;
}

TEST(Masters, FixedOrderAndExactNames)
{
    QStringList names;
    for (const MasterDefinition* m : allMasters()) {
        names << m->name;
    }
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("BUNMAS"),
                           QStringLiteral("TENMAS"),
                           QStringLiteral("SIRMAS"),
                           QStringLiteral("TOKMAS"),
                           QStringLiteral("SHOMAS"),
                           QStringLiteral("JISYA")}));
    EXPECT_EQ(findMaster(u"SHOMAS"), &productMaster());
    EXPECT_EQ(findMaster(u"shomas"), nullptr);
    EXPECT_EQ(productMaster().updateFileName(), QStringLiteral("SHOMAS.dat"));
    EXPECT_EQ(productMaster().hostFileName(), QStringLiteral("SHOMAS.DAT"));
}

// The import gives its values in the table's column order; every updated or exported column exists; update
// fields never overlap.
TEST(Masters, DefinitionsAreConsistentWithTheirTables)
{
    for (const MasterDefinition* m : allMasters()) {
        SCOPED_TRACE(m->name.toStdString());
        QStringList columns;
        for (const QString& c : m->columns) {
            columns << c;
        }
        EXPECT_EQ(columnsOf(m->importFields), columns);
        EXPECT_EQ(m->importFields.front().column, QStringLiteral("有効区分"));
        EXPECT_EQ(m->importFields.front().start, 1);
        for (const QString& c : columnsOf(m->updateFields) + columnsOf(m->exportFields)) {
            EXPECT_TRUE(columns.contains(c)) << c.toStdString();
        }
        EXPECT_TRUE(columns.contains(m->keyColumn));
        EXPECT_EQ(m->updateKey.column, m->keyColumn);
        std::set<int> used;
        for (const Field& f : m->updateFields) {
            for (int p = f.start; p < f.start + f.length; ++p) {
                EXPECT_TRUE(used.insert(p).second) << "position " << p << " read twice";
            }
        }
    }
}

TEST(Masters, ExportLinesHaveTheirFieldCounts)
{
    EXPECT_EQ(columnsOf(classificationMaster().exportFields),
              (QStringList{QStringLiteral("分類コード"),
                           QStringLiteral("分類漢字名"),
                           QStringLiteral("消費税区分"),
                           QStringLiteral("消費税率"),
                           QStringLiteral("分類カナ名"),
                           QStringLiteral("有効区分"),
                           QStringLiteral("filler")}));
    EXPECT_EQ(storeMaster().exportFields.size(), 3u);
    EXPECT_EQ(supplierMaster().exportFields.size(), 9u);
    EXPECT_EQ(customerMaster().exportFields.size(), 8u);
    EXPECT_EQ(productMaster().exportFields.size(), 27u);
    EXPECT_EQ(productMaster().exportFields.back().column, QStringLiteral("有効区分"));
    EXPECT_EQ(ownCompanyCodeMaster().exportFields.size(), 3u);
    EXPECT_EQ(productMaster().columns.size(), 27u);
    EXPECT_EQ(productMaster().updateFields.size(), 27u);
}

TEST(Masters, CutFieldAppliesTheTransform)
{
    const QString line = QStringLiteral("1AB  ,C，D  X");
    EXPECT_EQ(cutField(line, {QStringLiteral("c"), 2, 9, Transform::AsSliced}), QStringLiteral("AB  ,C，D "));
    EXPECT_EQ(cutField(line, {QStringLiteral("c"), 2, 9, Transform::Trimmed}), QStringLiteral("AB  ,C，D"));
    EXPECT_EQ(cutField(line, {QStringLiteral("c"), 2, 9, Transform::TrimmedReplaceCommas}),
              QStringLiteral("AB  .C．D"));
    EXPECT_EQ(cutField(line, {QStringLiteral("c"), 40, 3, Transform::AsSliced}), QStringLiteral(""));
}

TEST(Masters, CutFieldCountsCharactersNotBytes)
{
    struct Case
    {
        QString line;
        int start;
        int length;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("1ABCD"), 2, 4, QStringLiteral("ABCD")},
        {QStringLiteral("1表ソ①㈱Z"), 2, 4, QStringLiteral("表ソ①㈱")}, // double-byte characters are one position each
        {QStringLiteral("1ｱｲｳ"), 2, 2, QStringLiteral("ｱｲ")},
        {QStringLiteral("1AB"), 2, 4, QStringLiteral("AB")}, // the line ends inside the run
        {QStringLiteral("1AB"), 4, 4, QStringLiteral("")},   // the line is shorter than the start
        {QStringLiteral("1AB"), 3, 1, QStringLiteral("B")},
        {QStringLiteral(""), 1, 1, QStringLiteral("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString() + " @" + std::to_string(c.start));
        QString sliced = cutField(c.line, {QStringLiteral("c"), c.start, c.length, Transform::AsSliced});
        EXPECT_EQ(sliced, c.expected);
        EXPECT_FALSE(sliced.isNull()); // a field beyond the end is empty text, never NULL
    }
}

TEST(Masters, CutFieldViewGivesTheSameValuesAsCutField)
{
    const QStringList lines = {"", "1", "  a,b，c  ", QString(200, u' '), "1ABC ,  ﾃｽﾄ,，x" + QString(100, u'9')};
    const QList<Transform> transforms = {Transform::AsSliced, Transform::Trimmed, Transform::TrimmedReplaceCommas};
    for (const QString& line : lines) {
        for (int start : {0, 1, 2, 5, 15, 181, 300}) {
            for (int length : {0, 1, 4, 13}) {
                for (Transform t : transforms) {
                    SCOPED_TRACE(QStringLiteral("line \"%1\" start %2 length %3 transform %4")
                                     .arg(line)
                                     .arg(start)
                                     .arg(length)
                                     .arg(static_cast<int>(t))
                                     .toStdString());
                    const Field field{"c", start, length, t};
                    QString scratch;
                    const QStringView view = cutFieldView(line, field, scratch);
                    EXPECT_EQ(view.toString(), cutField(line, field));
                    EXPECT_FALSE(view.isNull());
                }
            }
        }
    }
}

} // namespace
} // namespace kavelo::masters
