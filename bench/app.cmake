# From a click on the tray icon to the popup on screen (target 50 ms). The app's resident
# memory is measured on the real binary by measure-app.sh (target 40 MB).
quaystone_add_bench(bench_tray_click SOURCES TrayClickBench.cpp LIBS quaystone_app)
