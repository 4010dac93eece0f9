<% Response.Cookies("a b") = "x" %>ok
