<%@ Language=VBScript %>
<% Option Explicit %>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Samples - corvane</title>
<link rel="stylesheet" href="style.css">
</head>
<body>
<header><h1>corvane samples</h1></header>
<main>
<p class="lead">Two pages that use the component against the servers on this machine.</p>
<ul>
<li><a href="browse.asp">browse.asp</a>: the FTP server's files, through <code>corvane.FTP</code>'s directory browser.</li>
<li><a href="fetch.asp">fetch.asp</a>: any HTTP address, fetched with <code>corvane.HTTP</code>.</li>
</ul>
</main>
</body>
</html>
