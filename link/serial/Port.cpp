#include "link/serial/Port.h"

namespace serial {

const char* Message(Error error) {
    switch (error) {
    case Error::None:
        return "Успешно";
    case Error::NotFound:
        return "Устройство не найдено";
    case Error::Busy:
        return "Порт занят другой программой";
    case Error::Access:
        return "Нет доступа к порту";
    case Error::NotTerminal:
        return "Это не последовательный порт";
    case Error::Unsupported:
        return "Порт не поддерживает эти параметры";
    case Error::Io:
        return "Ошибка ввода-вывода порта";
    case Error::Cancelled:
        return "Операция прервана";
    case Error::Closed:
        return "Порт закрыт";
    }
    return "Ошибка ввода-вывода порта";
}

} // namespace serial
