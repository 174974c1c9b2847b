"""The checks of served_site_run.py, one module a command or concern;
common.py holds what several share, ../../server/folder_server.py the web
server of a folder."""
