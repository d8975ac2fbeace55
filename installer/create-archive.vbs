' Creates the empty message archive Corvane.mdb that the Outlook add-in writes to.
'   cscript //NoLogo create-archive.vbs "C:\Program Files\Vexa\Corvane.mdb"
' The path must be a full one: the installer always passes one.
' An existing archive is never replaced: only a column that an earlier setup made too narrow is
' widened in place, keeping every row.
' Exit code 0 when the archive was created or was already there (and is now wide enough), 1 when
' it could not be created or checked (the reason goes to stderr), 2 on a wrong call.
'
' Jet 4.0 exists only as a 32-bit provider, so the installer runs this with the 32-bit script host.
' Where Jet is missing, the Access engine (ACE) is used instead, asked for the same Jet 4.0 file
' format so that either engine can open the archive later.
Option Explicit

Const kProviders = "Microsoft.Jet.OLEDB.4.0|Microsoft.ACE.OLEDB.16.0|Microsoft.ACE.OLEDB.12.0"
' "Jet OLEDB:Engine Type" 5 is the Jet 4.0 (Access 2000-2003) .mdb format.
Const kJet4Format = ";Jet OLEDB:Engine Type=5"

' Column names are the ones the add-in reads and writes; Date, Number and New are reserved words
' in Jet SQL, so every name is bracketed. New has no default: the add-in sets it on every row it
' adds, and a DEFAULT clause is the one piece of this DDL whose syntax the engines disagree on.
' The add-in writes up to 100 characters into Number, Subject, Description and FileName (a fax
' number or a reference can be that long) and Jet refuses a row with a longer value than its column
' holds, so these take Jet's widest text, 255.
Dim tables(1)
tables(0) = "CREATE TABLE [recv] (" & _
    "[Id] COUNTER CONSTRAINT [PK_recv] PRIMARY KEY, " & _
    "[Date] DATETIME, " & _
    "[Number] TEXT(255), " & _
    "[Subject] TEXT(255), " & _
    "[Description] TEXT(255), " & _
    "[FileName] TEXT(255), " & _
    "[FileId] TEXT(20), " & _
    "[New] BIT)"
tables(1) = "CREATE TABLE [send] (" & _
    "[Id] COUNTER CONSTRAINT [PK_send] PRIMARY KEY, " & _
    "[Date] DATETIME, " & _
    "[Number] TEXT(255), " & _
    "[Subject] TEXT(255), " & _
    "[Description] TEXT(255), " & _
    "[FileName] TEXT(255), " & _
    "[FileId] TEXT(20), " & _
    "[Confirm] TEXT(20))"
' Earlier setups made Number 50 characters wide, and the add-in writes up to 100 characters.
Const kNumberNeeds = 100
Dim widenings
widenings = Array( _
    Array("recv", "ALTER TABLE [recv] ALTER COLUMN [Number] TEXT(255)"), _
    Array("send", "ALTER TABLE [send] ALTER COLUMN [Number] TEXT(255)"))

Dim fso
Set fso = CreateObject("Scripting.FileSystemObject")

Sub Say(message)
    WScript.Echo message
End Sub

' Script hosts without a standard error stream (Wine's, for one) get the message on standard
' output instead: the installer logs both.
Sub Fail(code, message)
    On Error Resume Next
    WScript.StdErr.WriteLine "create-archive: " & message
    If Err.Number <> 0 Then WScript.Echo "create-archive: " & message
    WScript.Quit code
End Sub

' The current error in words; some components raise errors without a description.
Function ErrorText()
    ErrorText = Trim(Err.Description)
    If ErrorText = "" Then ErrorText = "error 0x" & Hex(Err.Number)
End Function

' Removes a half-made archive and the lock file Jet keeps beside an open one.
Sub RemoveQuietly(path)
    On Error Resume Next
    If fso.FileExists(path) Then fso.DeleteFile path, True
    Dim lockFile
    lockFile = fso.BuildPath(fso.GetParentFolderName(path), fso.GetBaseName(path) & ".ldb")
    If fso.FileExists(lockFile) Then fso.DeleteFile lockFile, True
    Err.Clear
End Sub

' A name beside the target that no other run uses, so the final move stays in one folder and
' the add-in never sees a half-made archive under the real name.
Function TemporaryName(target)
    Dim folder, name
    folder = fso.GetParentFolderName(target)
    Randomize
    Do
        name = fso.BuildPath(folder, "~" & fso.GetBaseName(target) & "-" & _
                             Hex(Int(Rnd * &H7FFFFFFF)) & ".mdb")
    Loop While fso.FileExists(name)
    TemporaryName = name
End Function

' Creates the database file with the first provider that works; returns the open connection,
' or Nothing with the reasons of all providers in `reasons`.
Function CreateDatabase(path, ByRef reasons)
    Dim provider, catalog, connection, connectionString, reason
    Set CreateDatabase = Nothing
    reasons = ""
    On Error Resume Next
    Set catalog = CreateObject("ADOX.Catalog")
    If Err.Number <> 0 Then
        reasons = "ADOX is not available (" & ErrorText() & ")"
        Err.Clear
        Exit Function
    End If
    For Each provider In Split(kProviders, "|")
        connectionString = "Provider=" & provider & ";Data Source=" & path
        If provider <> "Microsoft.Jet.OLEDB.4.0" Then connectionString = connectionString & kJet4Format
        Err.Clear
        Set connection = Nothing
        catalog.Create connectionString
        If Err.Number = 0 Then Set connection = catalog.ActiveConnection
        If Err.Number <> 0 Then
            reason = ErrorText()
        ElseIf connection Is Nothing Then
            reason = "no connection to the new database"
        Else
            Set CreateDatabase = connection
            Exit Function
        End If
        Err.Clear
        If reasons <> "" Then reasons = reasons & "; "
        reasons = reasons & provider & ": " & reason
        RemoveQuietly path
    Next
End Function

' Opens an existing archive through the catalog with the first provider that works; returns
' the connection, or Nothing with the reasons of all providers in `reasons`.
Function OpenDatabase(catalog, path, ByRef reasons)
    Dim provider
    Set OpenDatabase = Nothing
    reasons = ""
    On Error Resume Next
    For Each provider In Split(kProviders, "|")
        Err.Clear
        catalog.ActiveConnection = "Provider=" & provider & ";Data Source=" & path
        If Err.Number = 0 Then
            Set OpenDatabase = catalog.ActiveConnection
            If Err.Number = 0 Then Exit Function
        End If
        If reasons <> "" Then reasons = reasons & "; "
        reasons = reasons & provider & ": " & ErrorText()
    Next
End Function

' Widens what an earlier setup made too narrow, in place: Jet copies every row's values into the
' wider column. Leaves an archive that is wide enough untouched.
Sub UpdateArchive(target)
    Dim catalog, connection, reasons, widening, width, widened
    On Error Resume Next
    Set catalog = CreateObject("ADOX.Catalog")
    If Err.Number <> 0 Then Fail 1, "the archive " & target & " is kept as it is, but cannot be checked: ADOX is not available (" & ErrorText() & ")"
    Set connection = OpenDatabase(catalog, target, reasons)
    If connection Is Nothing Then Fail 1, "the archive " & target & " is kept as it is, but cannot be opened: " & reasons
    widened = ""
    For Each widening In widenings
        Err.Clear
        width = catalog.Tables(widening(0)).Columns("Number").DefinedSize
        If Err.Number = 0 And width < kNumberNeeds Then connection.Execute widening(1)
        If Err.Number <> 0 Then
            reasons = ErrorText()
            connection.Close
            Fail 1, "the archive " & target & " is kept, but the column Number of " & widening(0) & _
                    " could not be widened: " & reasons
        End If
        If width < kNumberNeeds Then
            If widened <> "" Then widened = widened & " and"
            widened = widened & " " & widening(0)
        End If
    Next
    connection.Close
    If widened = "" Then
        Say "The archive " & target & " already exists; it is kept as it is."
    Else
        Say "The archive " & target & " already exists; it is kept, with the column Number of" & _
            widened & " widened to 255 characters."
    End If
    WScript.Quit 0
End Sub

Dim target, temporary, connection, reasons, statement
If WScript.Arguments.Count <> 1 Then Fail 2, "usage: create-archive.vbs <path of Corvane.mdb>"
target = WScript.Arguments(0)

If fso.FileExists(target) Then UpdateArchive target
If Not fso.FolderExists(fso.GetParentFolderName(target)) Then
    Fail 1, "the folder " & fso.GetParentFolderName(target) & " does not exist"
End If

temporary = TemporaryName(target)
Set connection = CreateDatabase(temporary, reasons)
If connection Is Nothing Then
    RemoveQuietly temporary
    Fail 1, "cannot create " & target & ": " & reasons
End If

On Error Resume Next
For Each statement In tables
    connection.Execute statement
    If Err.Number <> 0 Then
        reasons = ErrorText()
        connection.Close
        Set connection = Nothing
        RemoveQuietly temporary
        On Error GoTo 0
        Fail 1, "cannot create the tables of " & target & ": " & reasons
    End If
Next
' Closing releases the file and removes Jet's lock file, so the finished archive can be moved.
connection.Close
Set connection = Nothing
Err.Clear

' MoveFile never replaces a file: an archive that appeared meanwhile is left alone.
fso.MoveFile temporary, target
If Err.Number <> 0 Then
    reasons = ErrorText()
    RemoveQuietly temporary
    On Error GoTo 0
    If fso.FileExists(target) Then
        Say "The archive " & target & " already exists; it is kept as it is."
        WScript.Quit 0
    End If
    Fail 1, "cannot move the new archive into place as " & target & ": " & reasons
End If
On Error GoTo 0
Say "Created the archive " & target & " with the tables recv and send."
WScript.Quit 0
