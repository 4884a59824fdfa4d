int widget_core(void) { return 1; }
