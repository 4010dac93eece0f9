// Names in UTF-8 as a JScript page uses them: the property, a Greek and a
// Japanese name listed, fetched and stored, and the browser page's links
// coming back through the page's raw query string.
// Arguments: the loopback FTP server's port and its root folder.

var greek = String.fromCharCode(0x395, 0x3BB, 0x3C1, 0x3CD, 0x39D) + ".txt";
var japanese = String.fromCharCode(0x65E5, 0x672C, 0x8A9E);
var fso = new ActiveXObject("Scripting.FileSystemObject");
var root = WScript.Arguments(1);
fso.CreateFolder(root + "\\" + japanese);
fso.CreateTextFile(root + "\\" + japanese + "\\" + greek).Write("greek");

function connected(page) {
    var made = new ActiveXObject("corvane.FTP");
    useEngineOfRun(made);
    if (page) made.OnStartPage(page.Context);
    made.URL = "127.0.0.1";
    made.Port = parseInt(WScript.Arguments(0), 10);
    made.Username = "tester";
    made.Password = "secret";
    made.Passive = true;
    made.UTF8 = true;
    made.OpenConnection();
    return made;
}

var ftp = new ActiveXObject("corvane.FTP");
useEngineOfRun(ftp);
check("off by default", ftp.UTF8, false);
ftp = connected(null);
check("on", ftp.UTF8, true);
ftp.Directory = japanese;
check("directory", ftp.Directory, "/" + japanese + "/");
var names = [];
for (var walk = new Enumerator(ftp.Files()); !walk.atEnd(); walk.moveNext())
    names.push(walk.item().Filename);
check("listed", names.join("|"), greek);
var local = fso.GetSpecialFolder(2) + "\\corvane-utf8-script.txt";
ftp.GetFile(greek, local, true);
check("fetched", fso.OpenTextFile(local).ReadAll(), "greek");
ftp.PutFile(local, "/" + greek);
check("stored", fso.FileExists(root + "\\" + greek), true);
fso.DeleteFile(local);
ftp.CloseConnection();

function newPage(query) {
    var page = new ActiveXObject("AspTestHost.Page");
    page.SetServerVariable("SERVER_NAME", "localhost");
    page.SetServerVariable("SERVER_PORT", "80");
    page.SetServerVariable("SCRIPT_NAME", "/b.asp");
    if (query) page.ParseQueryString(query);
    return page;
}
var page = newPage("d=%2F%E6%97%A5%E6%9C%AC%E8%AA%9E");
connected(page).PrintClient();
var link = "?f=%2F%E6%97%A5%E6%9C%AC%E8%AA%9E%2F%CE%95%CE%BB%CF%81%CF%8D%CE%9D%2Etxt";
check("link and name", page.Body.indexOf(link + "\">&#917;&#955;&#961;&#973;&#925;.txt</a>") > 0, true);
page = newPage(link.substring(1));
connected(page).PrintClient();
check("link followed", page.Body, "greek");
WScript.Echo("END");
