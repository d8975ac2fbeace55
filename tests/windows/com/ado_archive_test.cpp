// What the archive on Windows holds after the add-in wrote to it through its ADO engine: rows,
// values and their types, files in Attach, messages shown. Underneath is a stand-in Jet that keeps
// tables in memory, refuses what Jet refuses (a value wider than its column, a table opened
// read-only, an unknown provider or file) and rolls back what a transaction wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "adapters/ado/ado_archive.h"
#include "adapters/memory/memory_platform.h"
#include "adapters/memory/memory_session.h"
#include "adapters/memory/scripted_dialogs.h"
#include "adapters/outlook/dispatch_object.h"
#include "adapters/paths/path_rules.h"
#include "addin/connect.h"
#include "tests/support/mail.h"

namespace vexa::ado {
namespace {

using namespace vexa::outlook;
using testing::IncomingFax;
using testing::OutgoingFax;

// The columns as the add-in needs them, each text column exactly as wide as it must be at least.
constexpr const char* kLayout =
    "CREATE TABLE [recv] ([Id] COUNTER, [Date] DATETIME, [Number] TEXT(100), [Subject] TEXT(100), "
    "[Description] TEXT(100), [FileName] TEXT(100), [FileId] TEXT(20), [New] BIT)\n"
    "CREATE TABLE [send] ([Id] COUNTER, [Date] DATETIME, [Number] TEXT(100), [Subject] TEXT(100), "
    "[Description] TEXT(100), [FileName] TEXT(100), [FileId] TEXT(20), [Confirm] TEXT(12))\n";

// Jet's own numbers and words.
HostError TooWide() {
    return HostError(-2147217887,
                     "The field is too small to accept the amount of data you attempted to add. Try inserting or "
                     "pasting less data.");
}
HostError NotOpen() { return HostError(3704, "Operation is not allowed when the object is closed."); }
// ADO raises it as adErrProviderNotFound (3706) in its own facility, the form a caller sees.
HostError ProviderNotFound() {
    return HostError(static_cast<std::int32_t>(0x800A0E7Au), "Provider cannot be found. It may not be properly installed.");
}

Variant Copy(const VARIANT* value) {
    Variant copy;
    ::VariantCopy(&copy.Raw(), const_cast<VARIANT*>(value));
    return copy;
}

using Handler = std::function<Variant(WORD flags, const std::vector<const VARIANT*>& arguments)>;

// An automation object whose members are handlers.
class StandIn final : public DispatchObject {
public:
    explicit StandIn(std::vector<std::pair<const wchar_t*, Handler>> members) {
        for (auto& [name, handler] : members) {
            names_.push_back(name);
            handlers_.push_back(std::move(handler));
        }
    }

protected:
    const std::vector<const wchar_t*>& Members() const override { return names_; }
    Variant Answer(DISPID id, WORD flags, const std::vector<const VARIANT*>& arguments) override {
        return handlers_.at(static_cast<std::size_t>(id - 1))(flags, arguments);
    }

private:
    std::vector<const wchar_t*> names_;
    std::vector<Handler> handlers_;
};

ComPtr<IDispatch> Make(std::vector<std::pair<const wchar_t*, Handler>> members) {
    return ComPtr<IDispatch>::Adopt(DispatchObject::Create<StandIn>(std::move(members)));
}

struct Column {
    std::string type;
    std::size_t width = 0;
};
using Row = std::map<std::string, Variant>;
struct Table {
    std::map<std::string, Column> columns;
    std::vector<Row> rows;
};
struct Database {
    std::map<std::string, Table> tables;
    // Counters are not rolled back, as Jet's are not: a rolled-back row's number stays used.
    std::map<std::string, std::int32_t> lastId;
    // Which Update call (counted from 1) the engine refuses as locked; 0 for none.
    int refuseUpdate = 0;
    int updates = 0;
};

// The tables that CREATE TABLE statements, one a line, declare.
std::shared_ptr<Database> DatabaseFrom(const std::string& statements) {
    auto database = std::make_shared<Database>();
    const std::regex table(R"(CREATE TABLE \[(\w+)\] \((.*)\))");
    const std::regex column(R"(\[(\w+)\] (\w+)(?:\((\d+)\))?)");
    std::istringstream lines(statements);
    for (std::string line; std::getline(lines, line);) {
        std::smatch found;
        if (!std::regex_search(line, found, table)) continue;
        Table& declared = database->tables[found[1]];
        const std::string body = found[2];
        for (std::sregex_iterator it(body.begin(), body.end(), column), end; it != end; ++it) {
            const std::string type = (*it)[2];
            const std::size_t width = (*it)[3].matched ? std::stoul((*it)[3]) : 255;
            declared.columns[(*it)[1]] = Column{type, type == "TEXT" ? width : 0};
        }
    }
    return database;
}

struct Connection {
    std::string provider;
    std::shared_ptr<Database> database;  // null while not open
    std::optional<std::map<std::string, Table>> before;  // the tables when the transaction began
};

// Jet and the ADO classes over it: database "files" by path, opened through ADODB.Connection.
class StandInJet {
public:
    // The providers whose class this process can load.
    std::vector<std::string> providers{"Microsoft.Jet.OLEDB.4.0"};
    // Provider names that resolve to a class without one this process can load: the name keys
    // are shared between the 32-bit and 64-bit registry views, the classes are not.
    std::vector<std::string> otherViewOnly;
    // The provider of the last connection that opened.
    std::string opened;

    std::shared_ptr<Database> AddFile(const std::string& path, const std::string& statements) {
        return files_[path] = DatabaseFrom(statements);
    }

    ComPtr<IDispatch> Create(const std::wstring& progId) {
        if (progId == L"ADODB.Connection") return NewConnection();
        if (progId == L"ADODB.Recordset") return NewRecordset();
        if (progId == L"ADODB.Command") return NewCommand();
        throw HostError(429, "ActiveX component can't create object");
    }
    AdoArchiveEngine Engine() {
        return AdoArchiveEngine([this](const std::wstring& progId) { return Create(progId); },
                                [this](const std::wstring& provider) {
                                    const std::string name = WideToUtf8(provider);
                                    return std::find(providers.begin(), providers.end(), name) != providers.end() ||
                                           std::find(otherViewOnly.begin(), otherViewOnly.end(), name) !=
                                               otherViewOnly.end();
                                });
    }

private:
    std::shared_ptr<Connection> ConnectionOf(const VARIANT* value) const {
        for (const auto& [object, connection] : connections_) {
            if (value->vt == VT_DISPATCH && value->pdispVal == object.Get()) return connection;
        }
        throw HostError(3001, "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.");
    }
    static Database& Open(const Connection& connection) {
        if (!connection.database) throw NotOpen();
        return *connection.database;
    }
    static const Column& ColumnOf(const Table& table, const std::string& name) {
        const auto column = table.columns.find(name);
        if (column == table.columns.end()) {
            throw HostError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
        }
        return column->second;
    }
    // Stores `value` in `row` as Jet would, refusing text wider than its column.
    static void Store(const Table& table, Row& row, const std::string& name, const Variant& value) {
        const Column& column = ColumnOf(table, name);
        const VARIANT& raw = value.Raw();
        const std::size_t length = raw.vt == VT_BSTR ? ::SysStringLen(raw.bstrVal) : value.AsText().size();
        if (column.type == "TEXT" && length > column.width) throw TooWide();
        row[name] = value;
    }

    ComPtr<IDispatch> NewConnection() {
        auto state = std::make_shared<Connection>();
        auto object = Make({
            {L"Provider", [state](WORD, const auto& arguments) {
                 state->provider = Copy(arguments.back()).AsText();
                 return Variant();
             }},
            {L"Open", [this, state](WORD, const auto& arguments) {
                 if (std::find(providers.begin(), providers.end(), state->provider) == providers.end()) {
                     throw ProviderNotFound();
                 }
                 const std::string path = Copy(arguments.at(0)).AsText();
                 const auto file = files_.find(path);
                 if (file == files_.end()) throw HostError(-2147467259, "Could not find file '" + path + "'.");
                 state->database = file->second;
                 opened = state->provider;
                 return Variant();
             }},
            {L"Close", [state](WORD, const auto&) {
                 if (state->before) Open(*state).tables = *state->before;
                 state->before.reset();
                 state->database = nullptr;
                 return Variant();
             }},
            {L"BeginTrans", [state](WORD, const auto&) {
                 state->before = Open(*state).tables;
                 return Variant();
             }},
            {L"CommitTrans", [state](WORD, const auto&) {
                 if (!state->before) throw HostError(3034, "You tried to commit or rollback a transaction without first beginning a transaction.");
                 state->before.reset();
                 return Variant();
             }},
            {L"RollbackTrans", [state](WORD, const auto&) {
                 if (!state->before) throw HostError(3034, "You tried to commit or rollback a transaction without first beginning a transaction.");
                 Open(*state).tables = *state->before;
                 state->before.reset();
                 return Variant();
             }},
        });
        connections_.emplace_back(object, state);
        return object;
    }

    ComPtr<IDispatch> NewRecordset() {
        struct Cursor {
            std::shared_ptr<Connection> connection;
            std::string table;
            bool updatable = false;
            bool adding = false;
            std::optional<std::int32_t> id;
            Row edits;
        };
        auto cursor = std::make_shared<Cursor>();
        auto table = [cursor]() -> Table& { return Open(*cursor->connection).tables.at(cursor->table); };
        auto saved = [cursor, table]() -> Row* {
            for (Row& row : table().rows) {
                if (cursor->id && row.at("Id").AsInt32() == *cursor->id) return &row;
            }
            return nullptr;
        };
        auto fields = Make({{L"Item", [cursor, table, saved](WORD, const auto& arguments) {
                                 const std::string name = Copy(arguments.at(0)).AsText();
                                 ColumnOf(table(), name);
                                 return Variant::Object(Make({{L"Value", [=](WORD flags, const auto& values) {
                                                                   if (flags & DISPATCH_PROPERTYPUT) {
                                                                       cursor->edits[name] = Copy(values.back());
                                                                       return Variant();
                                                                   }
                                                                   if (cursor->edits.count(name)) return cursor->edits[name];
                                                                   const Row* row = saved();
                                                                   return row && row->count(name) ? row->at(name) : Variant();
                                                               }}})
                                                            .Get());
                             }}});
        return Make({
            {L"Open", [this, cursor](WORD, const auto& arguments) {
                 cursor->connection = ConnectionOf(arguments.at(1));
                 cursor->table = Copy(arguments.at(0)).AsText();
                 constexpr std::int32_t kAdCmdTable = 2, kAdLockReadOnly = 1;
                 if (Copy(arguments.at(4)).AsInt32() != kAdCmdTable) throw HostError(-2147217900, "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
                 if (!Open(*cursor->connection).tables.count(cursor->table)) {
                     throw HostError(-2147217865, "The Microsoft Jet database engine cannot find the input table or query '" + cursor->table + "'.");
                 }
                 cursor->updatable = Copy(arguments.at(3)).AsInt32() != kAdLockReadOnly;
                 return Variant();
             }},
            {L"AddNew", [cursor](WORD, const auto&) {
                 if (!cursor->updatable) throw HostError(3251, "Current Recordset does not support updating. This may be a limitation of the provider, or of the selected locktype.");
                 cursor->adding = true;
                 cursor->id.reset();
                 cursor->edits.clear();
                 return Variant();
             }},
            {L"Update", [cursor, table, saved](WORD, const auto&) {
                 Database& database = Open(*cursor->connection);
                 if (++database.updates == database.refuseUpdate) {
                     throw HostError(-2147217887, "Could not update; currently locked.");
                 }
                 Row row;
                 if (cursor->adding) {
                     row["Id"] = Variant::Int32(database.lastId[cursor->table] + 1);
                 } else if (const Row* existing = saved()) {
                     row = *existing;
                 } else {
                     throw HostError(3021, "Either BOF or EOF is True, or the current record has been deleted.");
                 }
                 for (const auto& [name, value] : cursor->edits) Store(table(), row, name, value);
                 if (cursor->adding) {
                     cursor->id = ++database.lastId[cursor->table];
                     table().rows.push_back(row);
                 } else {
                     *saved() = row;
                 }
                 cursor->adding = false;
                 cursor->edits.clear();
                 return Variant();
             }},
            {L"Fields", [fields](WORD, const auto&) { return Variant::Object(fields.Get()); }},
        });
    }

    // Runs the UPDATE statements the add-in writes: one column set from a parameter or a column,
    // rows chosen by Id and optionally one more column, all values as parameters.
    ComPtr<IDispatch> NewCommand() {
        struct Command {
            std::shared_ptr<Connection> connection;
            std::string text;
            std::vector<std::pair<ComPtr<IDispatch>, Variant>> created;
            std::vector<Variant> parameters;
        };
        auto command = std::make_shared<Command>();
        auto parameters = Make({{L"Append", [command](WORD, const auto& arguments) {
                                     for (const auto& [object, value] : command->created) {
                                         if (object.Get() == arguments.at(0)->pdispVal) command->parameters.push_back(value);
                                     }
                                     return Variant();
                                 }}});
        return Make({
            {L"ActiveConnection", [this, command](WORD, const auto& arguments) {
                 command->connection = ConnectionOf(arguments.back());
                 return Variant();
             }},
            {L"CommandText", [command](WORD, const auto& arguments) {
                 command->text = Copy(arguments.back()).AsText();
                 return Variant();
             }},
            {L"CommandType", [](WORD, const auto&) { return Variant(); }},
            {L"Parameters", [parameters](WORD, const auto&) { return Variant::Object(parameters.Get()); }},
            {L"CreateParameter", [command](WORD, const auto& arguments) {
                 auto parameter = Make({});
                 command->created.emplace_back(parameter, Copy(arguments.at(4)));
                 return Variant::Object(parameter.Get());
             }},
            {L"Execute", [command](WORD, const auto& arguments) {
                 Database& database = Open(*command->connection);
                 const std::regex update(R"(UPDATE (\w+) SET (\w+) = (\?|\w+) WHERE Id = \?(?: AND (\w+) = \?)?)");
                 std::smatch found;
                 if (!std::regex_match(command->text, found, update)) {
                     throw HostError(-2147217900, "Invalid SQL statement.");
                 }
                 Table& table = database.tables.at(found.str(1));
                 std::size_t next = 0;
                 const auto bound = [&]() -> const Variant& { return command->parameters.at(next++); };
                 const std::optional<Variant> value =
                     found[3] == "?" ? std::optional<Variant>(bound()) : std::nullopt;
                 const std::int32_t id = bound().AsInt32();
                 const std::optional<std::string> also =
                     found[4].matched ? std::optional<std::string>(bound().AsText()) : std::nullopt;
                 std::int32_t affected = 0;
                 for (Row& row : table.rows) {
                     if (row.at("Id").AsInt32() != id) continue;
                     if (also && (!row.count(found.str(4)) || row.at(found.str(4)).AsText() != *also)) continue;
                     Store(table, row, found.str(2), value ? *value : row[found.str(3)]);
                     ++affected;
                 }
                 VARIANT* records = const_cast<VARIANT*>(arguments.at(0));
                 ::VariantClear(records);
                 records->vt = VT_I4;
                 records->lVal = affected;
                 return Variant();
             }},
        });
    }

    std::map<std::string, std::shared_ptr<Database>> files_;
    std::vector<std::pair<ComPtr<IDispatch>, std::shared_ptr<Connection>>> connections_;
};

LocalDateTime DateOf(const Variant& value) {
    if (value.Raw().vt != VT_DATE) return {};
    SYSTEMTIME time{};
    ::VariantTimeToSystemTime(value.Raw().date, &time);
    return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

// The add-in on the memory mail host, writing its archive through the ADO engine into the
// stand-in Jet, its attachments into a real Attach folder.
class AddinOverAdo {
public:
    explicit AddinOverAdo(const std::string& statements) {
        folder_ = std::filesystem::temp_directory_path() / ("vexa-ado-" + std::to_string(++runs_));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "Attach");
        registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll",
                           "", (folder_ / "Corvane.dll").string());
        database = jet.AddFile((folder_ / "Corvane.mdb").string(), statements);
        explorer = session->OpenExplorer();
        addin = std::make_unique<Connect>(
            Platform{module, registry, paths, settings, engine, files, messages, dialogs, safeMailItems, shell});
        CustomArgs custom;
        addin->OnConnection(session->NewApplication(), ConnectMode::Startup, nullptr, custom);
    }
    ~AddinOverAdo() {
        addin.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    const std::vector<Row>& Rows(const std::string& table) const { return database->tables.at(table).rows; }
    std::vector<std::string> AttachFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_ / "Attach")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The user sends a fax, answering the description prompt with `description`.
    bool SendFax(memory::MailSpec fax, const std::string& description) {
        addin->Options().chDescription.Value = 1;
        dialogs.Then([description](DialogForm& form) {
            form.SetText("tDescription", description);
            form.PressEnter();
        });
        return session->Send(session->NewMail(std::move(fax)));
    }

    StandInJet jet;
    std::shared_ptr<Database> database;
    std::shared_ptr<memory::MemorySession> session = memory::MemorySession::Create();
    memory::MemoryApplicationFactory factory{session};
    AddinModule module{factory};
    memory::MemoryRegistry registry;
    paths::WindowsPathRules paths;
    memory::MemorySettingsStore settings;
    AdoArchiveEngine engine = jet.Engine();
    memory::StdFileStore files;
    memory::RecordingMessageBox messages;
    memory::ScriptedDialogs dialogs;
    memory::MemorySafeMailItemFactory safeMailItems;
    memory::RecordingShell shell;
    std::shared_ptr<memory::MemoryExplorer> explorer;
    std::unique_ptr<Connect> addin;

private:
    static inline int runs_ = 0;
    std::filesystem::path folder_;
};

TEST(AdoArchive, FaxesBecomeRowsWithDatesAsDates) {
    AddinOverAdo a(kLayout);
    ASSERT_TRUE(a.addin->Initialized()) << ::testing::PrintToString(a.messages.Texts());
    a.session->Deliver(IncomingFax());
    EXPECT_TRUE(a.SendFax(OutgoingFax(), "Quote, 2 pages"));

    EXPECT_TRUE(a.messages.Texts().empty()) << ::testing::PrintToString(a.messages.Texts());
    ASSERT_EQ(a.Rows("recv").size(), 1u);
    const Row& in = a.Rows("recv")[0];
    EXPECT_EQ(in.at("Id").AsInt32(), 1);
    EXPECT_EQ(in.at("Date").Raw().vt, VT_DATE);
    EXPECT_EQ(DateOf(in.at("Date")), (LocalDateTime{2026, 12, 8, 9, 5, 3}));
    EXPECT_EQ(in.at("Number").AsText(), "NY4711-23");
    EXPECT_EQ(in.at("FileName").AsText(), "fax.tif");
    EXPECT_EQ(in.at("FileId").AsText(), "R0000001.tif");
    EXPECT_EQ(in.at("New").Raw().vt, VT_BOOL);
    EXPECT_TRUE(in.at("New").AsBool());
    ASSERT_EQ(a.Rows("send").size(), 1u);
    const Row& out = a.Rows("send")[0];
    EXPECT_EQ(DateOf(out.at("Date")), (LocalDateTime{2026, 12, 8, 10, 0, 0}));
    EXPECT_EQ(out.at("Number").AsText(), "12125551234");
    EXPECT_EQ(out.at("Subject").AsText(), "Quote for ACME");
    EXPECT_EQ(out.at("Description").AsText(), "Quote, 2 pages");
    EXPECT_EQ(out.at("Confirm").AsText(), "Unconfirmed");
    EXPECT_EQ(a.AttachFiles(), (std::vector<std::string>{"R0000001.tif", "S0000001.doc"}));
}

TEST(AdoArchive, FailedSaveLeavesNeitherRowNorFile) {
    AddinOverAdo a(kLayout);
    // The first save of the row goes through; the second, with the stored file's name, is refused.
    a.database->refuseUpdate = 2;
    a.session->Deliver(IncomingFax());

    EXPECT_EQ(a.messages.Texts(), std::vector<std::string>{"Error in \"StoreInMessage\": Could not update; currently locked."});
    EXPECT_TRUE(a.Rows("recv").empty());
    EXPECT_TRUE(a.AttachFiles().empty());
    EXPECT_EQ(a.session->Inbox()->Contents().size(), 1u);

    // The next fax is archived whole, under the next number: the refused one stays used.
    a.messages.Clear();
    a.session->Deliver(IncomingFax());
    EXPECT_TRUE(a.messages.Texts().empty()) << ::testing::PrintToString(a.messages.Texts());
    ASSERT_EQ(a.Rows("recv").size(), 1u);
    EXPECT_EQ(a.Rows("recv")[0].at("FileId").AsText(), "R0000002.tif");
    EXPECT_EQ(a.AttachFiles(), std::vector<std::string>{"R0000002.tif"});
}

TEST(AdoArchive, ConfirmationsMarkTheTaggedRowAndNoOther) {
    AddinOverAdo a(kLayout);
    ASSERT_TRUE(a.SendFax(OutgoingFax(), "Quote"));
    const struct {
        const char* body;
        const char* message;  // empty: none
        const char* confirm;
    } cases[] = {
        // 2^32 + 1 is no row of the archive, and above all not row 1.
        {"Your fax {4294967297} was sent.", "Error in \"RunBulkOpQuery\": Overflow", "Unconfirmed"},
        {"Your fax {0000002} was sent.", "", "Unconfirmed"},
        {"Your fax {0000001} was sent.", "", "Successful"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        a.messages.Clear();
        a.session->Deliver(testing::Confirmation("Successful transmission to 12125551234", c.body));
        EXPECT_EQ(a.messages.Texts(), *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(a.Rows("send").at(0).at("Confirm").AsText(), c.confirm);
    }
}

TEST(AdoArchive, TheArchiveOpensWithWhicheverEngineIsThere) {
    const std::string jet = "Microsoft.Jet.OLEDB.4.0", ace16 = "Microsoft.ACE.OLEDB.16.0",
                      ace12 = "Microsoft.ACE.OLEDB.12.0";
    const struct {
        std::vector<std::string> providers;
        std::vector<std::string> otherViewOnly;
        std::string opened;  // empty: the archive does not open
        const char* message;
        const char* path = "C:\\Vexa\\Corvane.mdb";
    } cases[] = {
        {{jet, ace16}, {}, jet, ""},
        {{ace12, ace16}, {}, ace16, ""},
        {{ace12}, {}, ace12, ""},
        // 64-bit Office: Jet's name resolves, its class exists for 32-bit programs only.
        {{ace16}, {jet}, ace16, ""},
        {{ace12}, {jet, ace16}, ace12, ""},
        // The provider that was found says what else is wrong.
        {{ace16}, {jet}, "", "Can't init : Could not find file 'C:\\Vexa\\Missing.mdb'.", "C:\\Vexa\\Missing.mdb"},
        {{}, {}, "", "Can't init : Provider cannot be found. It may not be properly installed."},
        {{}, {jet}, "", "Can't init : Provider cannot be found. It may not be properly installed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.providers) + " " + ::testing::PrintToString(c.otherViewOnly));
        StandInJet stand;
        stand.providers = c.providers;
        stand.otherViewOnly = c.otherViewOnly;
        stand.AddFile("C:\\Vexa\\Corvane.mdb", kLayout);
        AdoArchiveEngine engine = stand.Engine();
        std::string message;
        try {
            engine.Open(c.path);
        } catch (const HostError& failure) {
            message = "Can't init : " + failure.Description();
        }
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(stand.opened, c.opened);
    }
}

// The archive that setup's script made: installer/test-installer runs the script against a
// stand-in ADOX that writes the statements it ran into the file, and names the file here.
TEST(SetupArchive, TakesHundredCharacterValuesInBothTables) {
    const char* made = std::getenv("VEXA_SETUP_ARCHIVE");
    if (!made || !*made) GTEST_SKIP() << "VEXA_SETUP_ARCHIVE names no archive made by setup (installer/test-installer does)";
    std::ifstream file(made, std::ios::binary);
    ASSERT_TRUE(file) << made;
    std::stringstream statements;
    statements << file.rdbuf();
    AddinOverAdo a(statements.str());
    ASSERT_TRUE(a.addin->Initialized()) << ::testing::PrintToString(a.messages.Texts());

    const std::string hundred(100, '7');
    memory::MailSpec in = IncomingFax(std::string(100, 'S'));
    in.body = "* The reference number for this fax is " + hundred + ". Thank you";
    in.attachments = {{std::string(96, 'f') + ".tif", testing::kTiff}};
    // Archived by hand, so the user gives it a description too.
    a.addin->Options().chDescription.Value = 1;
    a.dialogs.Then([](DialogForm& form) {
        form.SetText("tDescription", std::string(100, 'd'));
        form.PressEnter();
    });
    EXPECT_EQ(a.addin->StoreInMessage(a.session->NewMail(in), false), StoreOutcome::Stored);
    memory::MailSpec out = OutgoingFax(std::string(100, 'Q'));
    out.recipients = {{hundred + "@efaxsend.com", "Fax"}};
    out.attachments = {{std::string(96, 'q') + ".doc", testing::kDoc}};
    EXPECT_TRUE(a.SendFax(out, std::string(100, 'D')));

    EXPECT_TRUE(a.messages.Texts().empty()) << ::testing::PrintToString(a.messages.Texts());
    for (const char* table : {"recv", "send"}) {
        SCOPED_TRACE(table);
        ASSERT_EQ(a.Rows(table).size(), 1u);
        for (const char* column : {"Number", "Subject", "Description", "FileName"}) {
            EXPECT_EQ(a.Rows(table)[0].at(column).AsText().size(), 100u) << column;
        }
    }
    EXPECT_EQ(a.Rows("recv")[0].at("Number").AsText(), hundred);
    EXPECT_EQ(a.Rows("send")[0].at("Number").AsText(), hundred);
}

}  // namespace
}  // namespace vexa::ado
