<% Server.ScriptTimeout = 2
Do While True
Loop %>
