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
    EXPECT_EQ(names, (QStringList{QStringLiteral("BUNMAS"), QStringLiteral("TENMAS"), QStringLiteral("SIRMAS"),
                                  QStringLiteral("TOKMAS"), QStringLiteral("SHOMAS"), QStringLiteral("JISYA")}));
    EXPECT_EQ(findMaster(u"SHOMAS"), &productMaster());
    EXPECT_EQ(findMaster(u"shomas"), nullptr);
    EXPECT_EQ(productMaster().updateFileName(), QStringLiteral("SHOMAS.dat"));
    EXPECT_EQ(productMaster().hostFileName(), QStringLiteral("SHOMAS.DAT"));
}

// The import gives its values in the table's column order; every updated or exported column exists; update
// fields never overlap and only the product master yields.
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
        EXPECT_EQ(m->yieldsPerRow, m == &productMaster());
    }
}

TEST(Masters, ExportLinesHaveTheirFieldCounts)
{
    EXPECT_EQ(columnsOf(classificationMaster().exportFields),
              (QStringList{QStringLiteral("分類コード"), QStringLiteral("分類漢字名"), QStringLiteral("消費税区分"),
                           QStringLiteral("消費税率"), QStringLiteral("分類カナ名"), QStringLiteral("有効区分"),
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
    EXPECT_EQ(cutField(line, {QStringLiteral("c"), 2, 9, Transform::TrimmedReplaceCommas}), QStringLiteral("AB  .C．D"));
    EXPECT_EQ(cutField(line, {QStringLiteral("c"), 40, 3, Transform::AsSliced}), QStringLiteral(""));
}

} // namespace
} // namespace kavelo::masters
