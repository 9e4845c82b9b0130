import QtQuick
import Quorin.Testing

// What the fixture server answers the settings page, and reading back what reached it.
QtObject {
    readonly property string profilePath: "users/me?include=enrollments"
    readonly property string userPath: "users/me"
    readonly property string passwordPath: "users/me/change-password"
    readonly property string telegramPath: "notifications/telegram"

    // A university student in the second of the university's two years.
    readonly property var storedProfile: ({
        id: "u-1",
        fullName: "Amina Hassan",
        nickname: "amina",
        phoneNumber: "+201012345678",
        yearId: "y-12",
        year: { id: "y-12", value: "2",
                institution: { id: "i-2", name: "Cairo University", educationLevel: "UNIVERSITY" } },
        enrollments: []
    })
    readonly property var profileWithoutEducation: ({
        id: "u-1",
        fullName: "Amina Hassan",
        nickname: "amina",
        phoneNumber: "+201012345678",
        enrollments: []
    })
    // The last one lists its years only under "academicYears".
    readonly property var institutions: [
        { id: "i-1", name: "Nile School", educationLevel: "SCHOOL", years: [{ id: "y-1", value: "1" }] },
        { id: "i-2", name: "Cairo University", educationLevel: "UNIVERSITY",
          years: [{ id: "y-11", value: "1" }, { id: "y-12", value: "2" }] },
        { id: "i-3", name: "Delta Institute", educationLevel: "UNIVERSITY", years: [],
          academicYears: [{ id: "y-31", name: "3" }] }
    ]

    // Answers for every route the page calls, with the profile given (the stored one by default).
    function serve(profile) {
        Fixture.respond(profilePath, 200, profile === undefined ? storedProfile : profile)
        Fixture.respond("institutions", 200, institutions)
        Fixture.respond(telegramPath, 200, { userId: "u-1", telegramChatId: null })
    }

    // The requests of one method that reached the path.
    function requestsOf(method, path) {
        return Fixture.requests(path).filter(request => request.method === method)
    }
}
