module widget

go 1.19
