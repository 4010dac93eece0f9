<!-- #include file="../../outside.inc" -->
