// Listings as a JScript page reads them: Enumerator over Files, Item.
// Arguments: the loopback FTP server's port and its root folder.

var fso = new ActiveXObject("Scripting.FileSystemObject");
var root = WScript.Arguments(1);
fso.CreateFolder(root + "\\one");
fso.CreateTextFile(root + "\\two.txt").Write("22");

var ftp = new ActiveXObject("corvane.FTP");
useEngineOfRun(ftp);
ftp.URL = "127.0.0.1";
ftp.Port = parseInt(WScript.Arguments(0), 10);
ftp.Username = "tester";
ftp.Password = "secret";
ftp.OpenConnection();

var files = ftp.Files();
check("Count", files.Count(), 2);
var seen = {};
var visited = 0;
for (var walk = new Enumerator(files); !walk.atEnd(); walk.moveNext()) {
    seen[walk.item().Filename] = walk.item().FileType;
    visited++;
}
check("Enumerator visits every entry", visited, 2);
check("directory type", seen["one"], 1);
check("file type", seen["two.txt"], 2);
check("Item by name", files.Item("TWO.TXT").FileSize, 2);
try {
    files.Item(0);
    check("bad position raises", "no error", "error");
} catch (e) {
    check("bad position number", e.number & 0xFFFF, 9);
}
ftp.CloseConnection();
WScript.Echo("END");
