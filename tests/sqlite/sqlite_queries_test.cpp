// The archive's queries on SQLite: which rows each list filter selects, in which order, and what
// clearing New and reading one row give. Rows are put in with plain SQL, as any writer might.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/sqlite/sqlite_queries.h"
#include "tests/sqlite/sqlite_test_support.h"

namespace vexa::sqlite {
namespace {

class SqliteQueries : public test::ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        ReadRows(
            "INSERT INTO recv (Id, Date, Number, Subject, Description, FileName, New) VALUES "
            "(1, '2024-03-01 08:00:00', '555', 'Invoice March', 'paid', 'a.tif', 0),"
            "(2, '2024-03-02 09:00:00', '666', 'Order 100% sure', NULL, 'b_c.pdf', 1),"
            "(3, '2024-03-02 09:00:00', '777', 'INVOICE april', 'open', 'bxc.pdf', 1),"
            "(4, '2024-02-28 23:59:59', '888', 'old', 'x', 'd.tif', 0)");
        ReadRows(
            "INSERT INTO send (Id, Date, Number, Subject, Confirm) VALUES "
            "(1, '2024-03-01 10:00:00', '1', 'a', 'Successful'),"
            "(2, '2024-03-02 10:00:00', '2', 'b', 'Unsuccessful'),"
            "(3, '2024-03-03 10:00:00', '3', 'c', NULL),"
            "(4, '2024-03-04 10:00:00', '4', 'd', '')");
    }

    std::vector<std::int64_t> Ids(const ListQuery& query) {
        std::vector<std::int64_t> ids;
        for (const auto& row : SqliteArchiveQueries(path_).List(query)) ids.push_back(row.id);
        return ids;
    }
};

ListQuery Recv() { return ListQuery{}; }
ListQuery Send(std::optional<ConfirmState> state = std::nullopt) {
    ListQuery query;
    query.table = ArchiveTable::Send;
    query.state = state;
    return query;
}
ListQuery With(ListQuery query, auto ListQuery::*member, auto value) {
    query.*member = value;
    return query;
}

TEST_F(SqliteQueries, ListsTheRowsEachFilterSelectsNewestFirst) {
    ListQuery paged = Recv();
    paged.limit = 2;
    paged.offset = 1;
    const struct {
        const char* name;
        ListQuery query;
        std::vector<std::int64_t> ids;
    } cases[] = {
        {"all, newest first, Id breaks ties", Recv(), {3, 2, 1, 4}},
        {"only New", With(Recv(), &ListQuery::onlyNew, true), {3, 2}},
        {"a word in any letter case", With(Recv(), &ListQuery::search, std::string("invoice")), {3, 1}},
        {"every word, in any column", With(Recv(), &ListQuery::search, std::string(" invoice  OPEN ")), {3}},
        {"a number", With(Recv(), &ListQuery::search, std::string("66")), {2}},
        {"'%' is itself", With(Recv(), &ListQuery::search, std::string("100%")), {2}},
        {"'%' alone", With(Recv(), &ListQuery::search, std::string("%")), {2}},
        {"'_' is itself", With(Recv(), &ListQuery::search, std::string("b_c")), {2}},
        {"SQL is only text", With(Recv(), &ListQuery::search, std::string("' OR 1=1 --")), {}},
        {"since a day", With(Recv(), &ListQuery::since, std::optional<std::string>("2024-03-02")), {3, 2}},
        {"until a day, all of it", With(Recv(), &ListQuery::until, std::optional<std::string>("2024-02-28")), {4}},
        {"paged", paged, {2, 1}},
        {"sent, newest first", Send(), {4, 3, 2, 1}},
        {"unconfirmed: empty or NULL", Send(ConfirmState::Unconfirmed), {4, 3}},
        {"successful", Send(ConfirmState::Successful), {1}},
        {"unsuccessful", Send(ConfirmState::Unsuccessful), {2}},
    };
    SqliteArchiveQueries queries(path_);
    for (const auto& c : cases) {
        EXPECT_EQ(Ids(c.query), c.ids) << c.name;
        EXPECT_EQ(queries.Count(With(c.query, &ListQuery::limit, std::optional<std::int64_t>())),
                  c.query.limit ? 4 : static_cast<std::int64_t>(c.ids.size()))
            << c.name;
    }
}

TEST_F(SqliteQueries, ReadsOneRowAndClearsNew) {
    SqliteArchiveQueries queries(path_);
    const auto row = queries.Row(ArchiveTable::Recv, 2);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->date, "2024-03-02 09:00:00");
    EXPECT_EQ(row->subject, "Order 100% sure");
    EXPECT_EQ(row->description, "");
    EXPECT_EQ(row->fileName, "b_c.pdf");
    EXPECT_TRUE(row->isNew);
    EXPECT_EQ(queries.Row(ArchiveTable::Send, 2)->confirm, ConfirmState::Unsuccessful);
    EXPECT_FALSE(queries.Row(ArchiveTable::Recv, 99).has_value());

    queries.ClearNew(2);
    EXPECT_EQ(ReadRows("SELECT Id FROM recv WHERE New <> 0"), std::vector<std::string>{"3"});
}

TEST_F(SqliteQueries, AMissingArchiveFailsToOpen) {
    EXPECT_NE(test::FailureOf([&] { SqliteArchiveQueries((folder_ / "none.mdb").string()); }), "no error");
}

}  // namespace
}  // namespace vexa::sqlite
