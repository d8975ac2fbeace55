// The viewer's and `vexa list`'s queries on both engines: which rows each filter selects, in
// which order, one row read, New cleared and set again, and the version that tells a page to reload.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/postgres/engine_under_test.h"

namespace vexa::test {
namespace {

using namespace std::string_literals;

class ArchiveQueriesContract : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped()) return;
        auto connection = Open();
        const auto recv = [&](std::int64_t id, LocalDateTime date, std::string number, std::string subject,
                              FieldValue description, std::string fileName, bool isNew) {
            connection->Execute(
                "INSERT INTO recv (Id, Date, Number, Subject, Description, FileName, New) VALUES (?, ?, ?, ?, ?, ?, ?)",
                {id, date, number, subject, description, fileName, isNew});
        };
        recv(1, {2024, 3, 1, 8, 0, 0}, "555", "Invoice March", "paid"s, "a.tif", false);
        recv(2, {2024, 3, 2, 9, 0, 0}, "666", "Order 100% sure", {}, "b_c.pdf", true);
        recv(3, {2024, 3, 2, 9, 0, 0}, "777", "INVOICE april", "open"s, "bxc.pdf", true);
        recv(4, {2024, 2, 28, 23, 59, 59}, "888", "old", "Müller Øst"s, "d.tif", false);
        const auto send = [&](std::int64_t id, int day, FieldValue confirm) {
            connection->Execute("INSERT INTO send (Id, Date, Number, Subject, Confirm) VALUES (?, ?, ?, ?, ?)",
                                {id, LocalDateTime{2024, 3, day, 10, 0, 0}, std::to_string(id), "s"s, confirm});
        };
        send(1, 1, "Successful"s);
        send(2, 2, "Unsuccessful"s);
        send(3, 3, {});
        send(4, 4, ""s);
        connection->Close();
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

TEST_P(ArchiveQueriesContract, ListsTheRowsEachFilterSelectsNewestFirst) {
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
        {"a word in any letter case", With(Recv(), &ListQuery::search, "invoice"s), {3, 1}},
        {"every word, in any column", With(Recv(), &ListQuery::search, " invoice  OPEN "s), {3}},
        {"a number", With(Recv(), &ListQuery::search, "66"s), {2}},
        {"every letter in any case", With(Recv(), &ListQuery::search, "MÜLLER øST"s), {4}},
        {"'%' is itself", With(Recv(), &ListQuery::search, "100%"s), {2}},
        {"'%' alone", With(Recv(), &ListQuery::search, "%"s), {2}},
        {"'_' is itself", With(Recv(), &ListQuery::search, "b_c"s), {2}},
        {"'\\' is itself", With(Recv(), &ListQuery::search, "\\"s), {}},
        {"SQL is only text", With(Recv(), &ListQuery::search, "' OR 1=1 --"s), {}},
        {"since a day", With(Recv(), &ListQuery::since, std::optional("2024-03-02"s)), {3, 2}},
        {"until a day, all of it", With(Recv(), &ListQuery::until, std::optional("2024-02-28"s)), {4}},
        {"paged", paged, {2, 1}},
        {"sent, newest first", Send(), {4, 3, 2, 1}},
        {"unconfirmed: empty or NULL", Send(ConfirmState::Unconfirmed), {4, 3}},
        {"successful", Send(ConfirmState::Successful), {1}},
        {"unsuccessful", Send(ConfirmState::Unsuccessful), {2}},
    };
    const auto queries = engine_->Queries();
    for (const auto& c : cases) {
        std::vector<std::int64_t> ids;
        for (const auto& row : queries->List(c.query)) ids.push_back(row.id);
        EXPECT_EQ(ids, c.ids) << c.name;
        EXPECT_EQ(queries->Count(With(c.query, &ListQuery::limit, std::optional<std::int64_t>())),
                  c.query.limit ? 4 : static_cast<std::int64_t>(c.ids.size()))
            << c.name;
    }
}

ListQuery Sorted(ListQuery query, SortColumn column, bool ascending, std::int64_t offset = 0,
                 std::optional<std::int64_t> limit = std::nullopt) {
    query.sort = column;
    query.ascending = ascending;
    query.offset = offset;
    query.limit = limit;
    return query;
}

// Text in byte order on both engines, rows without it lowest; ties by Id in the same direction.
TEST_P(ArchiveQueriesContract, OrdersByEachColumnBothWaysAndPagesInThatOrder) {
    using enum SortColumn;
    const struct {
        ListQuery query;
        std::vector<std::int64_t> ids;
    } cases[] = {
        {Sorted(Recv(), Date, true), {4, 1, 2, 3}},
        {Sorted(Recv(), Date, false), {3, 2, 1, 4}},
        {Sorted(Recv(), Number, true), {1, 2, 3, 4}},
        {Sorted(Recv(), Number, false), {4, 3, 2, 1}},
        {Sorted(Recv(), Subject, true), {3, 1, 2, 4}},
        {Sorted(Recv(), Subject, false), {4, 2, 1, 3}},
        {Sorted(Recv(), Description, true), {2, 4, 3, 1}},
        {Sorted(Recv(), Description, false), {1, 3, 4, 2}},
        {Sorted(Recv(), FileName, true), {1, 2, 3, 4}},
        {Sorted(Recv(), FileName, false), {4, 3, 2, 1}},
        {Sorted(Recv(), State, true), {1, 4, 2, 3}},
        {Sorted(Recv(), State, false), {3, 2, 4, 1}},
        {Sorted(Recv(), Who, true), {1, 2, 3, 4}},
        {Sorted(Recv(), Who, false), {4, 3, 2, 1}},
        {Sorted(Send(), State, true), {3, 4, 1, 2}},
        {Sorted(Send(), State, false), {2, 1, 4, 3}},
        {Sorted(Send(), Subject, true), {1, 2, 3, 4}},
        {Sorted(Send(), Subject, false), {4, 3, 2, 1}},
        {Sorted(Recv(), Subject, true, 1, 2), {1, 2}},
        {Sorted(Recv(), Description, false, 2), {4, 2}},
        {Sorted(Send(), State, false, 3, 5), {3}},
        {Sorted(With(Recv(), &ListQuery::onlyNew, true), Subject, true), {3, 2}},
    };
    const auto queries = engine_->Queries();
    for (const auto& c : cases) {
        std::vector<std::int64_t> ids;
        for (const auto& row : queries->List(c.query)) ids.push_back(row.id);
        EXPECT_EQ(ids, c.ids) << ArchiveTableName(c.query.table) << " by " << SortColumnName(c.query.sort)
                              << (c.query.ascending ? " ascending" : " descending") << ", from " << c.query.offset;
    }
}

// A page far down a long list, the last one above all, is the same slice of the list as the
// whole list read from its start gives, in every order, ties and rows without text included.
TEST_P(ArchiveQueriesContract, AFarPageIsTheSliceOfTheWholeList) {
    auto connection = Open();
    connection->Execute(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500) "
        "INSERT INTO recv (Id, Number, Subject, Description, New) SELECT i + 10, 'n' || (i * 7919 % 1000), "
        "'s' || (i % 7), CASE WHEN i % 5 = 0 THEN NULL ELSE 'd' || (i % 11) END, i % 3 = 0 FROM n",
        {});
    connection->Close();
    const auto queries = engine_->Queries();
    using enum SortColumn;
    for (const auto& [column, ascending] : {std::pair{Date, false}, {Subject, true}, {Description, false},
                                            {Description, true}, {Number, false}, {State, true}}) {
        const std::vector<ArchiveRow> whole = queries->List(Sorted(Recv(), column, ascending));
        ASSERT_EQ(whole.size(), 2504u);
        for (const std::int64_t offset : {999, 1000, 1400, 2000, 2454, 2480, 2504, 3000}) {
            std::vector<std::int64_t> ids, expected;
            for (const auto& row : queries->List(Sorted(Recv(), column, ascending, offset, 50))) ids.push_back(row.id);
            for (auto i = static_cast<std::size_t>(offset); i < whole.size() && i < static_cast<std::size_t>(offset) + 50; ++i) {
                expected.push_back(whole[i].id);
            }
            EXPECT_EQ(ids, expected) << SortColumnName(column) << (ascending ? " ascending" : " descending") << ", from "
                                     << offset;
        }
    }
}

TEST_P(ArchiveQueriesContract, ReadsOneRowAndClearsNew) {
    const auto queries = engine_->Queries();
    const auto row = queries->Row(ArchiveTable::Recv, 2);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->date, "2024-03-02 09:00:00");
    EXPECT_EQ(row->subject, "Order 100% sure");
    EXPECT_EQ(row->description, "");
    EXPECT_EQ(row->fileName, "b_c.pdf");
    EXPECT_TRUE(row->isNew);
    EXPECT_FALSE(queries->Row(ArchiveTable::Recv, 1)->isNew);
    EXPECT_EQ(queries->Row(ArchiveTable::Send, 2)->confirm, ConfirmState::Unsuccessful);
    EXPECT_FALSE(queries->Row(ArchiveTable::Recv, 99).has_value());

    queries->ClearNew(2);
    EXPECT_FALSE(queries->Row(ArchiveTable::Recv, 2)->isNew);
    EXPECT_EQ(queries->Count(With(Recv(), &ListQuery::onlyNew, true)), 1);
}

// New cleared and set again, one fax or every fax a list selects, whatever its page; the rows
// still New afterwards, for the one asking. The embedded archive keeps New in the row itself.
TEST_P(ArchiveQueriesContract, MarksNewAgainAndClearsEveryFaxAListSelects) {
    ListQuery firstPage = Recv();
    firstPage.limit = 1;
    const struct {
        const char* name;
        std::function<std::int64_t(ArchiveQueries&)> step;
        std::int64_t cleared;
        std::vector<std::int64_t> newIds;
    } steps[] = {
        {"one seen", [](ArchiveQueries& q) { return q.ClearNew(2), std::int64_t{-1}; }, -1, {3}},
        {"an old fax New again", [](ArchiveQueries& q) { return q.MarkNew(1), std::int64_t{-1}; }, -1, {3, 1}},
        {"a seen fax New again", [](ArchiveQueries& q) { return q.MarkNew(2), std::int64_t{-1}; }, -1, {3, 2, 1}},
        {"New twice is New", [](ArchiveQueries& q) { return q.MarkNew(2), std::int64_t{-1}; }, -1, {3, 2, 1}},
        {"all a search selects",
         [](ArchiveQueries& q) { return q.ClearNewAll(With(Recv(), &ListQuery::search, "invoice"s)); }, 2, {2}},
        {"nothing left to clear there",
         [](ArchiveQueries& q) { return q.ClearNewAll(With(Recv(), &ListQuery::search, "invoice"s)); }, 0, {2}},
        {"every fax, not only the page", [&](ArchiveQueries& q) { return q.ClearNewAll(firstPage); }, 1, {}},
    };
    const auto queries = engine_->Queries();
    EXPECT_EQ(queries->Shared(), GetParam() == "postgres");
    for (const auto& s : steps) {
        EXPECT_EQ(s.step(*queries), s.cleared) << s.name;
        std::vector<std::int64_t> ids;
        for (const auto& row : queries->List(With(Recv(), &ListQuery::onlyNew, true))) ids.push_back(row.id);
        EXPECT_EQ(ids, s.newIds) << s.name;
        EXPECT_EQ(queries->Count(With(Recv(), &ListQuery::onlyNew, true)), static_cast<std::int64_t>(s.newIds.size()))
            << s.name;
        if (GetParam() != "sqlite") continue;
        std::vector<std::string> column;
        for (const std::int64_t id : s.newIds) column.push_back(std::to_string(id));
        std::sort(column.begin(), column.end());
        EXPECT_EQ(ReadRows("SELECT Id FROM recv WHERE CAST(New AS INTEGER) <> 0 ORDER BY Id"), column) << s.name;
    }
}

// A writer's commit reaches the viewer's version; the server delivers its notice a moment later,
// so the version is asked again for a few seconds at most.
TEST_P(ArchiveQueriesContract, VersionChangesOnceAnotherWriterCommits) {
    const auto queries = engine_->Queries();
    const std::int64_t before = queries->Version();
    auto writer = Open();
    writer->BeginTrans();
    writer->Execute("UPDATE send SET Confirm = 'Successful' WHERE Id = 3", {});
    EXPECT_EQ(queries->Version(), before) << "changed before the commit";
    writer->CommitTrans();
    std::int64_t after = queries->Version();
    for (int attempt = 0; attempt < 100 && after == before; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        after = queries->Version();
    }
    EXPECT_NE(after, before);
    EXPECT_EQ(queries->Row(ArchiveTable::Send, 3)->confirm, ConfirmState::Successful);
    writer->Close();
}

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveQueriesContract, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace vexa::test
