// vyrhost: loads the control through the component registry by its
// programmatic identifier, makes a host window and runs commands, one a line,
// from standard input or --script FILE:
//   call METHOD ARG... [dump N]   prints "= RESULT" or "! ERROR 0x%08X TEXT"
//   wait MSG [TIMEOUT_MS]         waits for a host message not yet taken by an
//                                 earlier wait (exit 3 on time-out)
//   sleep MS | grab FILE.png | quit
// With --stay the window stays open after the last command until it is closed.
// Every host message is printed as "MSG 0x%X %d %d" when it arrives, and every
// message box the control shows as "BOX TEXT", answered with OK: a script has
// nobody to click it away.
#include "control/interface/VyrdaxInterface.h"
#include "platform/ControlContainer.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "platform/ProcessSignals.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

void PrintLine(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class HostWindow : public QWidget, public platform::MessageReceiver {
public:
    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override
    {
        char line[96];
        std::snprintf(line, sizeof line, "MSG 0x%X %d %d", message, static_cast<int>(static_cast<intptr_t>(wParam)),
                      static_cast<int>(lParam));
        PrintLine(line);
        ++arrived[message];
        if (waitingFor == message && loop)
            loop->quit();
        return 0;
    }

    std::map<uint32_t, int> arrived; // not yet taken by a wait, per number
    std::optional<uint32_t> waitingFor;
    QEventLoop* loop = nullptr;

protected:
    bool event(QEvent* e) override
    {
        if (platform::HandleMessageEvent(e, this))
            return true;
        return QWidget::event(e);
    }
};

// Reads lines on its own thread so the GUI thread keeps serving messages
// that the control's threads send while a script waits for input. The GUI
// thread's wait is an event loop that the reader ends when a line (or the
// end of input) comes, so waiting costs nothing.
class LineSource {
public:
    explicit LineSource(std::istream& in) : state_(std::make_shared<State>())
    {
        // Detached: it may sit in a blocking read of standard input at exit;
        // the state it shares lives as long as either side.
        std::thread([state = state_, &in] {
            std::string line;
            for (;;) {
                const bool got = static_cast<bool>(std::getline(in, line));
                std::lock_guard<std::mutex> lock(state->mutex);
                if (got)
                    state->lines.push_back(line);
                else
                    state->ended = true;
                if (state->loop)
                    QMetaObject::invokeMethod(state->loop, "quit", Qt::QueuedConnection);
                if (!got)
                    return;
            }
        }).detach();
    }

    // Runs the event loop until a line is there; false at end of input.
    bool Next(std::string* line)
    {
        for (;;) {
            QEventLoop loop;
            {
                std::lock_guard<std::mutex> lock(state_->mutex);
                if (!state_->lines.empty()) {
                    *line = state_->lines.front();
                    state_->lines.pop_front();
                    return true;
                }
                if (state_->ended)
                    return false;
                state_->loop = &loop;
            }
            loop.exec();
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->loop = nullptr;
        }
    }

private:
    struct State {
        std::mutex mutex;
        std::deque<std::string> lines;
        bool ended = false;
        QEventLoop* loop = nullptr; // the GUI thread's wait, while it waits
    };
    std::shared_ptr<State> state_;
};

std::vector<std::string> Tokenise(const std::string& line, bool* ok)
{
    std::vector<std::string> tokens;
    *ok = true;
    std::size_t k = 0;
    while (k < line.size()) {
        if (line[k] == ' ' || line[k] == '\t' || line[k] == '\r') {
            ++k;
            continue;
        }
        std::string token;
        if (line[k] == '"') {
            ++k;
            bool closed = false;
            while (k < line.size()) {
                if (line[k] == '\\' && k + 1 < line.size()) {
                    token.push_back(line[k + 1]);
                    k += 2;
                } else if (line[k] == '"') {
                    ++k;
                    closed = true;
                    break;
                } else {
                    token.push_back(line[k++]);
                }
            }
            if (!closed)
                *ok = false;
            token.insert(token.begin(), '\x01'); // marks a quoted string
        } else {
            while (k < line.size() && line[k] != ' ' && line[k] != '\t' && line[k] != '\r')
                token.push_back(line[k++]);
        }
        tokens.push_back(token);
    }
    return tokens;
}

bool ParseNumber(const std::string& text, long long* value)
{
    if (text.empty() || text[0] == '\x01')
        return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtoll(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0';
}

std::u16string Utf8ToUtf16(const std::string& s) { return QString::fromStdString(s).toStdU16String(); }

void PrintError(platform::HRESULT hr, const char* text)
{
    char line[160];
    std::snprintf(line, sizeof line, "! ERROR 0x%08X %s", static_cast<unsigned>(hr), text);
    PrintLine(line);
}

const char* ErrorText(platform::HRESULT hr)
{
    switch (hr) {
    case platform::DISP_E_UNKNOWNNAME: return "unknown name";
    case platform::DISP_E_MEMBERNOTFOUND: return "member not found";
    case platform::DISP_E_BADPARAMCOUNT: return "wrong argument count";
    case platform::DISP_E_TYPEMISMATCH: return "type mismatch";
    default: return "call failed";
    }
}

void Call(platform::IControl* control, const std::vector<std::string>& tokens)
{
    if (tokens.size() < 2) {
        PrintError(platform::DISP_E_UNKNOWNNAME, "unknown name");
        return;
    }
    std::vector<std::string> args(tokens.begin() + 2, tokens.end());
    long long dumpBytes = -1;
    if (args.size() >= 2 && args[args.size() - 2] == "dump" && ParseNumber(args.back(), &dumpBytes)) {
        args.resize(args.size() - 2);
    }
    int dispid = 0;
    platform::HRESULT hr = control->GetIDsOfNames(tokens[1], &dispid);
    if (hr != platform::S_OK) {
        PrintError(hr, ErrorText(hr));
        return;
    }
    const platform::MethodInfo* method = nullptr;
    for (const auto& m : vyrdax::Methods())
        if (m.dispid == dispid)
            method = &m;
    std::vector<platform::Variant> variants;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        const platform::VarType expected =
            method && k < method->arguments.size() ? method->arguments[k].type : platform::VT_I4;
        long long number = 0;
        if (!a.empty() && a[0] == '\x01') {
            variants.push_back(platform::Variant::String(Utf8ToUtf16(a.substr(1))));
        } else if (ParseNumber(a, &number)) {
            if (expected == platform::VT_I2)
                variants.push_back(platform::Variant::Short(static_cast<int16_t>(static_cast<uint16_t>(number))));
            else
                variants.push_back(platform::Variant::Long(static_cast<int32_t>(static_cast<uint32_t>(number))));
        } else {
            variants.push_back(platform::Variant::String(Utf8ToUtf16(a))); // a bare word is a string
        }
    }
    platform::Variant result;
    hr = control->Invoke(dispid, variants, &result);
    if (hr != platform::S_OK) {
        PrintError(hr, ErrorText(hr));
        return;
    }
    switch (result.vt) {
    case platform::VT_EMPTY: PrintLine("= "); break;
    case platform::VT_I2:
    case platform::VT_I4: PrintLine("= " + std::to_string(result.i)); break;
    case platform::VT_BOOL: PrintLine(result.i ? "= 1" : "= 0"); break;
    case platform::VT_BSTR: PrintLine("= " + QString::fromStdU16String(result.bstr).toStdString()); break;
    case platform::VT_PTR: {
        PrintLine("= ptr");
        if (dumpBytes >= 0) {
            std::string hex = "HEX ";
            const auto* bytes = static_cast<const unsigned char*>(result.ptr);
            const std::size_t n =
                bytes ? std::min<std::size_t>(static_cast<std::size_t>(dumpBytes), result.ptrSize) : 0;
            static const char digits[] = "0123456789ABCDEF";
            for (std::size_t k = 0; k < n; ++k) {
                hex.push_back(digits[bytes[k] >> 4]);
                hex.push_back(digits[bytes[k] & 15]);
            }
            PrintLine(hex);
        }
        break;
    }
    }
}

// Runs the event loop for `ms` milliseconds.
void Pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    platform::IgnoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    int width = 1024, height = 768;
    std::string script;
    bool stay = false;
    for (int k = 1; k < argc; ++k) {
        std::string a = argv[k];
        if (a == "--size" && k + 1 < argc) {
            if (std::sscanf(argv[++k], "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0 || width > 16384 ||
                height > 16384) {
                std::fprintf(stderr, "vyrhost: bad --size\n");
                return 2;
            }
        } else if (a == "--script" && k + 1 < argc) {
            script = argv[++k];
        } else if (a == "--stay") {
            stay = true;
        } else {
            std::fprintf(stderr, "usage: vyrhost [--size WxH] [--script FILE] [--stay]\n");
            return 2;
        }
    }

    platform::SetMessageBoxHandler([](const std::string& text, const std::string&, unsigned) {
        PrintLine("BOX " + text);
        return platform::IDOK;
    });

    HostWindow host;
    host.setWindowTitle("Vyrdax Host");
    host.resize(width, height);
    QPalette palette = host.palette();
    palette.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
    host.setPalette(palette);
    host.setAutoFillBackground(true);

    platform::HRESULT hr = 0;
    std::string error;
    platform::ControlHandle control = platform::CreateControl(vyrdax::kProgId, &host, &hr, &error);
    if (!control) {
        std::fprintf(stderr, "vyrhost: cannot create %s: 0x%08X %s\n", vyrdax::kProgId, static_cast<unsigned>(hr),
                     error.c_str());
        return 1;
    }
    control->Widget()->setGeometry(0, 0, width, height);
    control->Widget()->lower();
    control->Widget()->show();
    host.show();

    std::ifstream scriptFile;
    if (!script.empty()) {
        scriptFile.open(script);
        if (!scriptFile) {
            std::fprintf(stderr, "vyrhost: cannot read %s\n", script.c_str());
            return 2;
        }
    }
    LineSource source(script.empty() ? std::cin : scriptFile);

    int exitCode = 0;
    bool quit = false;
    std::string line;
    while (!quit && source.Next(&line)) {
        bool ok = true;
        std::vector<std::string> tokens = Tokenise(line, &ok);
        if (tokens.empty() || tokens[0][0] == '#')
            continue;
        const std::string& command = tokens[0];
        if (!ok) {
            PrintLine("! BAD LINE " + line);
        } else if (command == "call") {
            Call(control.get(), tokens);
        } else if (command == "wait" && tokens.size() >= 2) {
            long long message = 0, timeout = 30000;
            if (!ParseNumber(tokens[1], &message) || (tokens.size() >= 3 && !ParseNumber(tokens[2], &timeout))) {
                PrintLine("! BAD LINE " + line);
                continue;
            }
            const auto number = static_cast<uint32_t>(message);
            QElapsedTimer clock;
            clock.start();
            while (host.arrived[number] == 0 && clock.elapsed() < timeout) {
                QEventLoop loop;
                host.loop = &loop;
                host.waitingFor = number;
                QTimer::singleShot(static_cast<int>(std::max<long long>(1, timeout - clock.elapsed())), &loop,
                                   &QEventLoop::quit);
                loop.exec();
                host.loop = nullptr;
                host.waitingFor.reset();
            }
            if (host.arrived[number] == 0) {
                char text[64];
                std::snprintf(text, sizeof text, "! TIMEOUT 0x%X", number);
                PrintLine(text);
                exitCode = 3;
                break;
            }
            // Each wait takes one message, so N waits see N arrivals.
            --host.arrived[number];
        } else if (command == "sleep" && tokens.size() >= 2) {
            long long ms = 0;
            if (!ParseNumber(tokens[1], &ms) || ms < 0) {
                PrintLine("! BAD LINE " + line);
                continue;
            }
            Pump(static_cast<int>(ms));
        } else if (command == "grab" && tokens.size() >= 2) {
            Pump(50); // lets queued repaints of title bars and panes land
            const std::string file = tokens[1][0] == '\x01' ? tokens[1].substr(1) : tokens[1];
            if (!host.grab().save(QString::fromStdString(file), "PNG"))
                PrintLine("! GRAB FAILED " + file);
        } else if (command == "quit") {
            quit = true;
        } else {
            PrintLine("! BAD LINE " + line);
        }
    }
    if (stay && !quit && exitCode == 0) {
        QApplication::setQuitOnLastWindowClosed(true);
        app.exec();
    }
    control.reset();
    return exitCode;
}
