#include "masters/Masters.h"

namespace kavelo::masters {

namespace {

constexpr Transform kAs = Transform::AsSliced;
constexpr Transform kTrim = Transform::Trimmed;
constexpr Transform kName = Transform::TrimmedReplaceCommas;
constexpr ExportForm kTrimmed = ExportForm::Trimmed;
constexpr ExportForm kStored = ExportForm::AsStored;

// Classification master. The tax rate keeps its blanks on update and is trimmed on import; the code is never
// trimmed.
MasterDefinition makeBunmas()
{
    MasterDefinition m;
    m.name = QStringLiteral("BUNMAS");
    m.keyColumn = QStringLiteral("分類コード");
    m.columns = {QStringLiteral("有効区分"),
                 QStringLiteral("分類コード"),
                 QStringLiteral("分類漢字名"),
                 QStringLiteral("消費税区分"),
                 QStringLiteral("消費税率"),
                 QStringLiteral("分類カナ名"),
                 QStringLiteral("filler")};
    m.updateKey = {m.keyColumn, 2, 4, kAs};
    m.updateFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("分類コード"), 2, 4, kAs},
        {QStringLiteral("分類漢字名"), 6, 20, kName},
        {QStringLiteral("消費税区分"), 26, 1, kAs},
        {QStringLiteral("消費税率"), 27, 3, kAs},
        {QStringLiteral("分類カナ名"), 30, 10, kName},
        {QStringLiteral("filler"), 40, 3, kAs},
    };
    m.exportFields = {
        {QStringLiteral("分類コード"), kTrimmed},
        {QStringLiteral("分類漢字名"), kTrimmed},
        {QStringLiteral("消費税区分"), kStored},
        {QStringLiteral("消費税率"), kStored},
        {QStringLiteral("分類カナ名"), kTrimmed},
        {QStringLiteral("有効区分"), kStored},
        {QStringLiteral("filler"), kStored},
    };
    m.importKey = {m.keyColumn, 2, 4, kAs};
    m.importFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("分類コード"), 2, 4, kAs},
        {QStringLiteral("分類漢字名"), 6, 20, kTrim},
        {QStringLiteral("消費税区分"), 26, 1, kTrim},
        {QStringLiteral("消費税率"), 27, 3, kTrim},
        {QStringLiteral("分類カナ名"), 30, 10, kTrim},
        {QStringLiteral("filler"), 40, 3, kAs},
    };
    return m;
}

// Store master. The update record carries its filler at 40-53; 20-39 are never read. The filler is not exported.
MasterDefinition makeTenmas()
{
    MasterDefinition m;
    m.name = QStringLiteral("TENMAS");
    m.keyColumn = QStringLiteral("店舗コード");
    m.columns = {QStringLiteral("有効区分"),
                 QStringLiteral("店舗コード"),
                 QStringLiteral("店舗名漢字"),
                 QStringLiteral("filler")};
    m.updateKey = {m.keyColumn, 2, 3, kAs};
    m.updateFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("店舗コード"), 2, 3, kAs},
        {QStringLiteral("店舗名漢字"), 5, 15, kName},
        {QStringLiteral("filler"), 40, 14, kAs},
    };
    m.exportFields = {
        {QStringLiteral("店舗コード"), kTrimmed},
        {QStringLiteral("店舗名漢字"), kTrimmed},
        {QStringLiteral("有効区分"), kStored},
    };
    m.importKey = {m.keyColumn, 2, 3, kAs};
    m.importFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("店舗コード"), 2, 3, kAs},
        {QStringLiteral("店舗名漢字"), 5, 15, kTrim},
        {QStringLiteral("filler"), 20, 14, kAs},
    };
    return m;
}

// Supplier master. The update never reads past position 41; the export writes the validity flag twice; the
// host file's 42nd character goes into "filler".
MasterDefinition makeSirmas()
{
    MasterDefinition m;
    m.name = QStringLiteral("SIRMAS");
    m.keyColumn = QStringLiteral("仕入先コード");
    m.columns = {QStringLiteral("有効区分"),
                 QStringLiteral("仕入先コード"),
                 QStringLiteral("仕入先漢字名"),
                 QStringLiteral("業者区分"),
                 QStringLiteral("消費税区分"),
                 QStringLiteral("端数処理"),
                 QStringLiteral("丸め単位"),
                 QStringLiteral("仕入先カナ名"),
                 QStringLiteral("filler")};
    m.updateKey = {m.keyColumn, 2, 6, kAs};
    m.updateFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("仕入先コード"), 2, 6, kAs},
        {QStringLiteral("仕入先漢字名"), 8, 20, kName},
        {QStringLiteral("業者区分"), 28, 1, kAs},
        {QStringLiteral("消費税区分"), 29, 1, kAs},
        {QStringLiteral("端数処理"), 30, 1, kAs},
        {QStringLiteral("丸め単位"), 31, 1, kAs},
        {QStringLiteral("仕入先カナ名"), 32, 10, kName},
    };
    m.exportFields = {
        {QStringLiteral("仕入先コード"), kStored},
        {QStringLiteral("仕入先漢字名"), kTrimmed},
        {QStringLiteral("業者区分"), kStored},
        {QStringLiteral("消費税区分"), kStored},
        {QStringLiteral("端数処理"), kStored},
        {QStringLiteral("丸め単位"), kStored},
        {QStringLiteral("仕入先カナ名"), kTrimmed},
        {QStringLiteral("有効区分"), kStored},
        {QStringLiteral("有効区分"), kStored},
    };
    m.importKey = {m.keyColumn, 2, 6, kAs};
    m.importFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("仕入先コード"), 2, 6, kAs},
        {QStringLiteral("仕入先漢字名"), 8, 20, kTrim},
        {QStringLiteral("業者区分"), 28, 1, kAs},
        {QStringLiteral("消費税区分"), 29, 1, kAs},
        {QStringLiteral("端数処理"), 30, 1, kAs},
        {QStringLiteral("丸め単位"), 31, 1, kAs},
        {QStringLiteral("仕入先カナ名"), 32, 10, kAs},
        {QStringLiteral("filler"), 42, 1, kAs},
    };
    return m;
}

// Customer master: the supplier's positions, with the 42nd character stored (not exported) by the update too.
MasterDefinition makeTokmas()
{
    MasterDefinition m;
    m.name = QStringLiteral("TOKMAS");
    m.keyColumn = QStringLiteral("得意先コード");
    m.columns = {QStringLiteral("有効区分"),
                 QStringLiteral("得意先コード"),
                 QStringLiteral("得意先漢字名"),
                 QStringLiteral("業者区分"),
                 QStringLiteral("消費税区分"),
                 QStringLiteral("端数処理"),
                 QStringLiteral("丸め単位"),
                 QStringLiteral("得意先カナ名"),
                 QStringLiteral("filler")};
    m.updateKey = {m.keyColumn, 2, 6, kAs};
    m.updateFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("得意先コード"), 2, 6, kAs},
        {QStringLiteral("得意先漢字名"), 8, 20, kName},
        {QStringLiteral("業者区分"), 28, 1, kAs},
        {QStringLiteral("消費税区分"), 29, 1, kAs},
        {QStringLiteral("端数処理"), 30, 1, kAs},
        {QStringLiteral("丸め単位"), 31, 1, kAs},
        {QStringLiteral("得意先カナ名"), 32, 10, kName},
        {QStringLiteral("filler"), 42, 1, kAs},
    };
    m.exportFields = {
        {QStringLiteral("得意先コード"), kStored},
        {QStringLiteral("得意先漢字名"), kTrimmed},
        {QStringLiteral("業者区分"), kStored},
        {QStringLiteral("消費税区分"), kStored},
        {QStringLiteral("端数処理"), kStored},
        {QStringLiteral("丸め単位"), kStored},
        {QStringLiteral("得意先カナ名"), kTrimmed},
        {QStringLiteral("有効区分"), kStored},
    };
    m.importKey = {m.keyColumn, 2, 6, kAs};
    m.importFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("得意先コード"), 2, 6, kAs},
        {QStringLiteral("得意先漢字名"), 8, 20, kTrim},
        {QStringLiteral("業者区分"), 28, 1, kAs},
        {QStringLiteral("消費税区分"), 29, 1, kAs},
        {QStringLiteral("端数処理"), 30, 1, kAs},
        {QStringLiteral("丸め単位"), 31, 1, kAs},
        {QStringLiteral("得意先カナ名"), 32, 10, kAs},
        {QStringLiteral("filler"), 42, 1, kAs},
    };
    return m;
}

// Product master, 181 characters. The update reads the own-company code from 15-26 (27 is never read); the host
// record's own-company code is 15-27 and its last 16 characters are fields of 9 and 7, which land in
// "特売開始日3" and "特売終了日3".
MasterDefinition makeShomas()
{
    MasterDefinition m;
    m.name = QStringLiteral("SHOMAS");
    m.keyColumn = QStringLiteral("商品コード");
    // The 20 fields from the classification code to the sale 2 end date are common to both records.
    const std::vector<Field> common = {
        {QStringLiteral("分類コード"), 62, 4, kAs},   {QStringLiteral("発注単位"), 66, 3, kAs},
        {QStringLiteral("仕入先コード"), 69, 6, kAs}, {QStringLiteral("入力区分"), 75, 1, kAs},
        {QStringLiteral("原価"), 76, 9, kAs},         {QStringLiteral("売価"), 85, 7, kAs},
        {QStringLiteral("端数処理"), 92, 1, kAs},     {QStringLiteral("丸め単位"), 93, 1, kAs},
        {QStringLiteral("税区分1"), 94, 1, kAs},      {QStringLiteral("適用開始日1"), 95, 8, kAs},
        {QStringLiteral("税率1"), 103, 3, kAs},       {QStringLiteral("税区分2"), 106, 1, kAs},
        {QStringLiteral("適用開始日2"), 107, 8, kAs}, {QStringLiteral("税率2"), 115, 3, kAs},
        {QStringLiteral("特売開始日1"), 118, 8, kAs}, {QStringLiteral("特売終了日1"), 126, 8, kAs},
        {QStringLiteral("特売原価1"), 134, 9, kAs},   {QStringLiteral("特売売価1"), 143, 7, kAs},
        {QStringLiteral("特売開始日2"), 150, 8, kAs}, {QStringLiteral("特売終了日2"), 158, 8, kAs},
    };

    m.columns = {QStringLiteral("有効区分"),
                 QStringLiteral("商品コード"),
                 QStringLiteral("自社コード"),
                 QStringLiteral("商品漢字名"),
                 QStringLiteral("商品カナ名")};
    for (const Field& f : common) {
        m.columns.push_back(f.column);
    }
    m.columns.push_back(QStringLiteral("特売開始日3"));
    m.columns.push_back(QStringLiteral("特売終了日3"));

    m.updateKey = {m.keyColumn, 2, 13, kAs};
    m.updateFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("商品コード"), 2, 13, kAs},
        {QStringLiteral("自社コード"), 15, 12, kAs},
        {QStringLiteral("商品漢字名"), 28, 20, kName},
        {QStringLiteral("商品カナ名"), 48, 14, kName},
    };
    m.updateFields.insert(m.updateFields.end(), common.begin(), common.end());
    m.updateFields.push_back({QStringLiteral("特売開始日3"), 166, 8, kAs});
    m.updateFields.push_back({QStringLiteral("特売終了日3"), 174, 8, kAs});

    m.exportFields = {
        {QStringLiteral("商品コード"), kTrimmed},
        {QStringLiteral("自社コード"), kTrimmed},
        {QStringLiteral("商品漢字名"), kTrimmed},
        {QStringLiteral("商品カナ名"), kTrimmed},
    };
    for (const Field& f : common) {
        m.exportFields.push_back({f.column, kStored});
    }
    m.exportFields.push_back({QStringLiteral("特売開始日3"), kStored});
    m.exportFields.push_back({QStringLiteral("特売終了日3"), kStored});
    m.exportFields.push_back({QStringLiteral("有効区分"), kStored});

    m.importKey = {m.keyColumn, 2, 13, kTrim};
    m.importFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("商品コード"), 2, 13, kTrim},
        {QStringLiteral("自社コード"), 15, 13, kTrim},
        {QStringLiteral("商品漢字名"), 28, 20, kTrim},
        {QStringLiteral("商品カナ名"), 48, 14, kTrim},
    };
    m.importFields.insert(m.importFields.end(), common.begin(), common.end());
    m.importFields.push_back({QStringLiteral("特売開始日3"), 166, 9, kAs});
    m.importFields.push_back({QStringLiteral("特売終了日3"), 175, 7, kAs});
    return m;
}

// Own-company code master. The code is stored as characters 2-14 trimmed and looked up by that same value, so a
// code that fills all 13 positions is kept whole and found again by the next update.
MasterDefinition makeJisya()
{
    MasterDefinition m;
    m.name = QStringLiteral("JISYA");
    m.keyColumn = QStringLiteral("自社コード");
    m.columns = {QStringLiteral("有効区分"), QStringLiteral("自社コード"), QStringLiteral("商品コード")};
    m.updateKey = {m.keyColumn, 2, 13, kTrim};
    m.updateFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("自社コード"), 2, 13, kTrim},
        {QStringLiteral("商品コード"), 15, 13, kTrim},
    };
    m.exportFields = {
        {QStringLiteral("自社コード"), kTrimmed},
        {QStringLiteral("商品コード"), kTrimmed},
        {QStringLiteral("有効区分"), kStored},
    };
    m.importKey = {m.keyColumn, 2, 13, kTrim};
    m.importFields = {
        {QStringLiteral("有効区分"), 1, 1, kAs},
        {QStringLiteral("自社コード"), 2, 13, kTrim},
        {QStringLiteral("商品コード"), 15, 13, kTrim},
    };
    return m;
}

} // namespace

const MasterDefinition& classificationMaster()
{
    static const MasterDefinition m = makeBunmas();
    return m;
}

const MasterDefinition& storeMaster()
{
    static const MasterDefinition m = makeTenmas();
    return m;
}

const MasterDefinition& supplierMaster()
{
    static const MasterDefinition m = makeSirmas();
    return m;
}

const MasterDefinition& customerMaster()
{
    static const MasterDefinition m = makeTokmas();
    return m;
}

const MasterDefinition& productMaster()
{
    static const MasterDefinition m = makeShomas();
    return m;
}

const MasterDefinition& ownCompanyCodeMaster()
{
    static const MasterDefinition m = makeJisya();
    return m;
}

const std::array<const MasterDefinition*, 6>& allMasters()
{
    static const std::array<const MasterDefinition*, 6> masters = {
        &classificationMaster(),
        &storeMaster(),
        &supplierMaster(),
        &customerMaster(),
        &productMaster(),
        &ownCompanyCodeMaster(),
    };
    return masters;
}

const MasterDefinition* findMaster(QStringView name)
{
    for (const MasterDefinition* m : allMasters()) {
        if (m->name == name) {
            return m;
        }
    }
    return nullptr;
}

} // namespace kavelo::masters
