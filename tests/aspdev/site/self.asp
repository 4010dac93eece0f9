<!-- #include file="self.asp" -->
