<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ar_EG" sourcelanguage="en_US">
<context>
    <name>AboutPane</name>
    <message>
        <source>Checking for updates…</source>
        <translation>جارٍ التحقق من وجود تحديثات…</translation>
    </message>
    <message>
        <source>Quorin is up to date.</source>
        <translation>Quorin محدَّث إلى أحدث إصدار.</translation>
    </message>
    <message>
        <source>Version %1 is available.</source>
        <translation>الإصدار %1 متاح.</translation>
    </message>
    <message>
        <source>Downloading version %1…</source>
        <translation>جارٍ تنزيل الإصدار %1…</translation>
    </message>
    <message>
        <source>Version %1 is verified and ready to install.</source>
        <translation>تم التحقق من الإصدار %1 وهو جاهز للتثبيت.</translation>
    </message>
    <message>
        <source>Required update check is offline. Reconnect within %1 hours.</source>
        <translation>تعذّر التحقق من التحديث المطلوب لعدم وجود اتصال. أعد الاتصال خلال %1 ساعات.</translation>
    </message>
    <message>
        <source>A required update must be installed.</source>
        <translation>يجب تثبيت تحديث مطلوب.</translation>
    </message>
    <message>
        <source>Updates have not been checked yet.</source>
        <translation>لم يتم التحقق من وجود تحديثات بعد.</translation>
    </message>
    <message>
        <source>Detailed diagnostics (always on in this session)</source>
        <translation>التشخيص المفصّل (يعمل دائمًا في هذه الجلسة)</translation>
    </message>
    <message>
        <source>Detailed diagnostics (ends %1)</source>
        <translation>التشخيص المفصّل (ينتهي %1)</translation>
    </message>
    <message>
        <source>Detailed diagnostics for 3 hours</source>
        <translation>التشخيص المفصّل لمدة 3 ساعات</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>حول %1</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>الإصدار %1</translation>
    </message>
    <message>
        <source>Software updates</source>
        <translation>تحديثات البرنامج</translation>
    </message>
    <message>
        <source>Update download progress</source>
        <translation>تقدّم تنزيل التحديث</translation>
    </message>
    <message>
        <source>Check for updates</source>
        <translation>التحقق من وجود تحديثات</translation>
    </message>
    <message>
        <source>Install</source>
        <translation>تثبيت</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>تحديث</translation>
    </message>
    <message>
        <source>What’s new</source>
        <translation>ما الجديد</translation>
    </message>
    <message>
        <source>Privacy policy</source>
        <translation>سياسة الخصوصية</translation>
    </message>
    <message>
        <source>Terms of service</source>
        <translation>شروط الخدمة</translation>
    </message>
    <message>
        <source>Contact support (Telegram)</source>
        <translation>التواصل مع الدعم (تيليجرام)</translation>
    </message>
    <message>
        <source>Save diagnostic ZIP</source>
        <translation>حفظ ملف التشخيص المضغوط (ZIP)</translation>
    </message>
    <message>
        <source>Reveal diagnostic ZIP</source>
        <translation>إظهار ملف التشخيص المضغوط (ZIP)</translation>
    </message>
</context>
<context>
    <name>AppWrapper</name>
    <message>
        <source>Headphones were disconnected. Reconnect them and reopen the video.</source>
        <translation>فُصلت سماعات الرأس. أعد توصيلها ثم افتح الفيديو مرة أخرى.</translation>
    </message>
</context>
<context>
    <name>AppearancePane</name>
    <message>
        <source>Appearance</source>
        <translation>المظهر</translation>
    </message>
    <message>
        <source>Instant (disabled)</source>
        <translation>فوري (معطّل)</translation>
    </message>
    <message>
        <source>Fast</source>
        <translation>سريع</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>عادي</translation>
    </message>
    <message>
        <source>Slow</source>
        <translation>بطيء</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>السمة</translation>
    </message>
    <message>
        <source>System</source>
        <translation>النظام</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>فاتح</translation>
    </message>
    <message>
        <source>Dark</source>
        <translation>داكن</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>اللغة</translation>
    </message>
    <message>
        <source>English</source>
        <translation>الإنجليزية</translation>
    </message>
    <message>
        <source>Arabic</source>
        <translation>العربية</translation>
    </message>
    <message>
        <source>Animation speed</source>
        <translation>سرعة الحركة</translation>
    </message>
</context>
<context>
    <name>ChangelogDialog</name>
    <message>
        <source>Got it</source>
        <translation>حسنًا</translation>
    </message>
    <message>
        <source>What’s new</source>
        <translation>ما الجديد</translation>
    </message>
    <message>
        <source>Installed version %1 · build %2</source>
        <translation>الإصدار المثبّت %1 · البنية %2</translation>
    </message>
    <message>
        <source>Collapse %1</source>
        <translation>طي %1</translation>
    </message>
    <message>
        <source>Expand %1</source>
        <translation>توسيع %1</translation>
    </message>
    <message>
        <source>Version %1 · build %2</source>
        <translation>الإصدار %1 · البنية %2</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>الإصدار %1</translation>
    </message>
</context>
<context>
    <name>Course</name>
    <message>
        <source>Course</source>
        <translation>المقرر</translation>
    </message>
</context>
<context>
    <name>CryptoManager</name>
    <message>
        <source>The operating system secure vault is unavailable. Unlock it and retry.</source>
        <translation>خزنة نظام التشغيل الآمنة غير متاحة. افتحها ثم أعد المحاولة.</translation>
    </message>
</context>
<context>
    <name>EducationSelector</name>
    <message>
        <source>Year %1</source>
        <translation>السنة %1</translation>
    </message>
    <message>
        <source>Educational level</source>
        <translation>المرحلة التعليمية</translation>
    </message>
    <message>
        <source>School</source>
        <translation>مدرسة</translation>
    </message>
    <message>
        <source>University</source>
        <translation>جامعة</translation>
    </message>
    <message>
        <source>Institution</source>
        <translation>المؤسسة التعليمية</translation>
    </message>
    <message>
        <source>Academic year</source>
        <translation>السنة الدراسية</translation>
    </message>
    <message>
        <source>Select your educational level, institution, and academic year.</source>
        <translation>اختر مرحلتك التعليمية ومؤسستك التعليمية وسنتك الدراسية.</translation>
    </message>
    <message>
        <source>Complete your educational level, institution, and academic year, or clear the education selection.</source>
        <translation>أكمل مرحلتك التعليمية ومؤسستك التعليمية وسنتك الدراسية، أو امسح اختيار التعليم.</translation>
    </message>
</context>
<context>
    <name>FloatingSupportAction</name>
    <message>
        <source>Contact support</source>
        <translation>تواصل مع الدعم</translation>
    </message>
    <message>
        <source>Open the Quorin support chat</source>
        <translation>فتح محادثة دعم Quorin</translation>
    </message>
</context>
<context>
    <name>HardwareCrypto</name>
    <message>
        <source>Offline downloads require the operating system secure vault to be available. Online streaming remains available.</source>
        <translation>تتطلب التنزيلات دون اتصال توفّر الخزنة الآمنة لنظام التشغيل. ولا يزال البث عبر الإنترنت متاحًا.</translation>
    </message>
    <message>
        <source>Offline downloads require TPM 2.0 or an unlocked Secret Service keyring.</source>
        <translation>تتطلب التنزيلات دون اتصال وحدة TPM 2.0 أو سلسلة مفاتيح Secret Service غير مقفلة.</translation>
    </message>
</context>
<context>
    <name>HelpCircleButton</name>
    <message>
        <source>Keyboard shortcuts</source>
        <translation>اختصارات لوحة المفاتيح</translation>
    </message>
</context>
<context>
    <name>Home</name>
    <message>
        <source>Home</source>
        <translation>الرئيسية</translation>
    </message>
    <message>
        <source>Open the course</source>
        <translation>افتح المقرر</translation>
    </message>
    <message>
        <source>Play the lecture</source>
        <translation>شغّل المحاضرة</translation>
    </message>
    <message>
        <source>Read the notes</source>
        <translation>اقرأ الملاحظات</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>الإعدادات</translation>
    </message>
    <message>
        <source>Show a message</source>
        <translation>اعرض رسالة</translation>
    </message>
    <message>
        <source>Your progress is saved.</source>
        <translation>تم حفظ تقدمك.</translation>
    </message>
    <message>
        <source>Open a dialog</source>
        <translation>افتح نافذة حوار</translation>
    </message>
    <message>
        <source>Remove the download?</source>
        <translation>هل تريد إزالة التنزيل؟</translation>
    </message>
    <message>
        <source>The lecture stays available online. You can download it again at any time.</source>
        <translation>تظل المحاضرة متاحة عبر الإنترنت. ويمكنك تنزيلها مرة أخرى في أي وقت.</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>إزالة</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>إلغاء</translation>
    </message>
    <message>
        <source>Open quiz %1</source>
        <translation>افتح الاختبار %1</translation>
    </message>
</context>
<context>
    <name>IntegrationsPane</name>
    <message>
        <source>Integrations &amp; notifications</source>
        <translation>التكاملات والإشعارات</translation>
    </message>
    <message>
        <source>Push notifications</source>
        <translation>الإشعارات الفورية</translation>
    </message>
    <message>
        <source>Telegram</source>
        <translation>تيليجرام</translation>
    </message>
    <message>
        <source>Loading...</source>
        <translation>جارٍ التحميل...</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>متصل</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>غير متصل</translation>
    </message>
    <message>
        <source>Refresh status</source>
        <translation>تحديث الحالة</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>إلغاء الربط</translation>
    </message>
    <message>
        <source>Link Telegram</source>
        <translation>ربط تيليجرام</translation>
    </message>
</context>
<context>
    <name>LearningProgressController</name>
    <message>
        <source>Your account identity is not available yet.</source>
        <translation>هوية حسابك غير متاحة بعد.</translation>
    </message>
    <message>
        <source>Connect to the internet to mark a lesson incomplete.</source>
        <translation>اتصل بالإنترنت لتعليم الدرس على أنه غير مكتمل.</translation>
    </message>
    <message>
        <source>The server is unavailable. Your change is saved and will sync automatically.</source>
        <translation>الخادم غير متاح. تم حفظ تغييرك وستتم مزامنته تلقائيًا.</translation>
    </message>
</context>
<context>
    <name>Login</name>
    <message>
        <source>Sign in</source>
        <translation>تسجيل الدخول</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>كلمة المرور</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>حاول مرة أخرى</translation>
    </message>
    <message>
        <source>Welcome to Quorin</source>
        <translation>مرحبًا بك في Quorin</translation>
    </message>
    <message>
        <source>The modern learning platform
for ambitious students.</source>
        <translation>منصة التعلّم الحديثة
للطلاب الطموحين.</translation>
    </message>
    <message>
        <source>Sign in to your account</source>
        <translation>سجّل الدخول إلى حسابك</translation>
    </message>
    <message>
        <source>Account created. Sign in with your mobile number and password.</source>
        <translation>تم إنشاء الحساب. سجّل الدخول برقم جوالك وكلمة المرور.</translation>
    </message>
    <message>
        <source>Forgot password?</source>
        <translation>نسيت كلمة المرور؟</translation>
    </message>
    <message>
        <source>Don&apos;t have an account?</source>
        <translation>ليس لديك حساب؟</translation>
    </message>
    <message>
        <source>Sign up</source>
        <translation>إنشاء حساب</translation>
    </message>
    <message>
        <source>Having trouble signing in? Our support team can help with technical issues.</source>
        <translation>هل تواجه مشكلة في تسجيل الدخول؟ يمكن لفريق الدعم لدينا المساعدة في المشكلات التقنية.</translation>
    </message>
    <message>
        <source>Create your account</source>
        <translation>أنشئ حسابك</translation>
    </message>
    <message>
        <source>Full name</source>
        <translation>الاسم الكامل</translation>
    </message>
    <message>
        <source>Quiz nickname</source>
        <translation>الاسم المستعار للاختبارات</translation>
    </message>
    <message>
        <source>Confirm password</source>
        <translation>تأكيد كلمة المرور</translation>
    </message>
    <message>
        <source>Create account</source>
        <translation>إنشاء الحساب</translation>
    </message>
    <message>
        <source>Already have an account?</source>
        <translation>لديك حساب بالفعل؟</translation>
    </message>
    <message>
        <source>Verify your number</source>
        <translation>تحقّق من رقمك</translation>
    </message>
    <message>
        <source>Enter the 6-digit code sent to your phone or Telegram.</source>
        <translation>أدخل الرمز المكوّن من 6 أرقام المرسل إلى هاتفك أو إلى تيليجرام.</translation>
    </message>
    <message>
        <source>Verify</source>
        <translation>تحقّق</translation>
    </message>
    <message>
        <source>Back to login</source>
        <translation>العودة إلى تسجيل الدخول</translation>
    </message>
    <message>
        <source>Reset password</source>
        <translation>إعادة تعيين كلمة المرور</translation>
    </message>
    <message>
        <source>Enter your mobile number to receive a verification code.</source>
        <translation>أدخل رقم جوالك لتتلقى رمز التحقق.</translation>
    </message>
    <message>
        <source>Send OTP</source>
        <translation>إرسال رمز التحقق</translation>
    </message>
    <message>
        <source>Remembered your password?</source>
        <translation>تذكّرت كلمة المرور؟</translation>
    </message>
    <message>
        <source>Create new password</source>
        <translation>أنشئ كلمة مرور جديدة</translation>
    </message>
    <message>
        <source>Enter the code sent to you and your new password.</source>
        <translation>أدخل الرمز المرسل إليك وكلمة المرور الجديدة.</translation>
    </message>
    <message>
        <source>New password</source>
        <translation>كلمة المرور الجديدة</translation>
    </message>
    <message>
        <source>Confirm new password</source>
        <translation>تأكيد كلمة المرور الجديدة</translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <source>Try again</source>
        <translation>حاول مرة أخرى</translation>
    </message>
</context>
<context>
    <name>NetworkManager</name>
    <message>
        <source>Your session has expired. Please sign in again.</source>
        <translation>انتهت صلاحية جلستك. يُرجى تسجيل الدخول مرة أخرى.</translation>
    </message>
    <message>
        <source>The server did not answer in time.</source>
        <translation>لم يستجب الخادم في الوقت المحدد.</translation>
    </message>
    <message>
        <source>The server is temporarily unavailable. Please try again.</source>
        <translation>الخادم غير متاح مؤقتًا. يُرجى المحاولة مرة أخرى.</translation>
    </message>
    <message>
        <source>Invalid response from server.</source>
        <translation>استجابة غير صالحة من الخادم.</translation>
    </message>
    <message>
        <source>Sign in could not be completed.</source>
        <translation>تعذّر إكمال تسجيل الدخول.</translation>
    </message>
    <message>
        <source>This account is already active on another device.</source>
        <translation>هذا الحساب نشط بالفعل على جهاز آخر.</translation>
    </message>
    <message>
        <source>The request was cancelled.</source>
        <translation>أُلغي الطلب.</translation>
    </message>
    <message>
        <source>Document URL is empty.</source>
        <translation>رابط المستند فارغ.</translation>
    </message>
    <message>
        <source>The document request failed.</source>
        <translation>تعذّر طلب المستند.</translation>
    </message>
    <message>
        <source>The document is too large to open safely.</source>
        <translation>المستند أكبر من أن يُفتح بأمان.</translation>
    </message>
    <message>
        <source>The server redirected the request to a destination that is not allowed.</source>
        <translation>أعاد الخادم توجيه الطلب إلى وجهة غير مسموح بها.</translation>
    </message>
</context>
<context>
    <name>PhoneNumberField</name>
    <message>
        <source>Mobile number</source>
        <translation>رقم الجوال</translation>
    </message>
    <message>
        <source>Egypt</source>
        <translation>مصر</translation>
    </message>
    <message>
        <source>Saudi Arabia</source>
        <translation>المملكة العربية السعودية</translation>
    </message>
    <message>
        <source>Country calling code</source>
        <translation>رمز الاتصال الدولي</translation>
    </message>
    <message>
        <source>Enter a valid Egyptian or Saudi mobile number.</source>
        <translation>أدخل رقم جوال مصريًا أو سعوديًا صالحًا.</translation>
    </message>
</context>
<context>
    <name>ProfileController</name>
    <message>
        <source>Nickname must contain 1–64 characters.</source>
        <translation>يجب أن يتكوّن الاسم المستعار من 1 إلى 64 حرفًا.</translation>
    </message>
    <message>
        <source>Enter a full name and quiz nickname.</source>
        <translation>أدخل الاسم الكامل والاسم المستعار للاختبارات.</translation>
    </message>
</context>
<context>
    <name>ProfilePane</name>
    <message>
        <source>Profile updated successfully!</source>
        <translation>تم تحديث الملف الشخصي بنجاح!</translation>
    </message>
    <message>
        <source>Edit information</source>
        <translation>تعديل البيانات</translation>
    </message>
    <message>
        <source>Profile could not be loaded</source>
        <translation>تعذّر تحميل الملف الشخصي</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>إعادة المحاولة</translation>
    </message>
    <message>
        <source>Full name</source>
        <translation>الاسم الكامل</translation>
    </message>
    <message>
        <source>Quiz nickname</source>
        <translation>الاسم المستعار للاختبارات</translation>
    </message>
    <message>
        <source>Nickname shown in quizzes</source>
        <translation>الاسم المستعار الذي يظهر في الاختبارات</translation>
    </message>
    <message>
        <source>Education</source>
        <translation>التعليم</translation>
    </message>
    <message>
        <source>Share usage telemetry</source>
        <translation>مشاركة بيانات الاستخدام</translation>
    </message>
    <message>
        <source>Operational crash and reliability diagnostics remain enabled. Usage events never include course names, URLs, phone numbers, or credentials.</source>
        <translation>تبقى تشخيصات الأعطال والموثوقية التشغيلية مفعّلة. لا تتضمن أحداث الاستخدام أبدًا أسماء الدورات أو الروابط أو أرقام الهواتف أو بيانات الاعتماد.</translation>
    </message>
    <message>
        <source>Save profile</source>
        <translation>حفظ الملف الشخصي</translation>
    </message>
</context>
<context>
    <name>ProfileSettings</name>
    <message>
        <source>Settings</source>
        <translation>الإعدادات</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>الملف الشخصي</translation>
    </message>
    <message>
        <source>Security</source>
        <translation>الأمان</translation>
    </message>
    <message>
        <source>Appearance</source>
        <translation>المظهر</translation>
    </message>
    <message>
        <source>Integrations</source>
        <translation>التكاملات</translation>
    </message>
    <message>
        <source>About</source>
        <translation>حول التطبيق</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>تسجيل الخروج</translation>
    </message>
    <message>
        <source>Delete account</source>
        <translation>حذف الحساب</translation>
    </message>
    <message>
        <source>Are you sure you want to delete your account? This action cannot be undone.</source>
        <translation>هل أنت متأكد من أنك تريد حذف حسابك؟ لا يمكن التراجع عن هذا الإجراء.</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>حذف</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>إلغاء</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>The request could not be completed.</source>
        <translation>تعذّر إكمال الطلب.</translation>
    </message>
</context>
<context>
    <name>Quiz</name>
    <message>
        <source>Quiz</source>
        <translation>الاختبار</translation>
    </message>
    <message>
        <source>Timed</source>
        <translation>مؤقّت</translation>
    </message>
    <message>
        <source>Ordinary</source>
        <translation>عادي</translation>
    </message>
    <message>
        <source>Written</source>
        <translation>مقالي</translation>
    </message>
    <message>
        <source>MCQ</source>
        <translation>اختيار من متعدد</translation>
    </message>
    <message>
        <source>Mixed</source>
        <translation>مختلط</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>الحالي</translation>
    </message>
    <message>
        <source>Marked</source>
        <translation>مُعلَّم</translation>
    </message>
    <message>
        <source>Correct</source>
        <translation>صحيح</translation>
    </message>
    <message>
        <source>Incorrect</source>
        <translation>خطأ</translation>
    </message>
    <message>
        <source>Answered</source>
        <translation>مُجاب</translation>
    </message>
    <message>
        <source>Unanswered</source>
        <translation>غير مُجاب</translation>
    </message>
    <message>
        <source>All</source>
        <translation>الكل</translation>
    </message>
    <message>
        <source>%1, %2 questions</source>
        <translation>%1، %2 أسئلة</translation>
    </message>
    <message>
        <source>Question %1</source>
        <translation>السؤال %1</translation>
    </message>
    <message>
        <source>Back to course</source>
        <translation>العودة إلى المقرر</translation>
    </message>
    <message>
        <source>%1/%2 · %3 answered</source>
        <translation>%1/%2 · %3 مُجاب</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>إعادة المحاولة</translation>
    </message>
    <message>
        <source>Keep this answer</source>
        <translation>الإبقاء على هذه الإجابة</translation>
    </message>
    <message>
        <source>Start quiz</source>
        <translation>بدء الاختبار</translation>
    </message>
    <message>
        <source>Submitting your answers…</source>
        <translation>جارٍ إرسال إجاباتك…</translation>
    </message>
    <message>
        <source>Submit your answers?</source>
        <translation>هل تريد إرسال إجاباتك؟</translation>
    </message>
    <message>
        <source>%1 unanswered · %2 marked. You cannot change answers after submitting.</source>
        <translation>%1 غير مُجاب · %2 مُعلَّم. لا يمكنك تغيير الإجابات بعد الإرسال.</translation>
    </message>
    <message>
        <source>Review questions</source>
        <translation>مراجعة الأسئلة</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>إلغاء</translation>
    </message>
    <message>
        <source>Submit quiz</source>
        <translation>إرسال الاختبار</translation>
    </message>
    <message>
        <source>Answers</source>
        <translation>الإجابات</translation>
    </message>
    <message>
        <source>A–Z or 1–9</source>
        <translation>A–Z أو 1–9</translation>
    </message>
    <message>
        <source>Select an answer</source>
        <translation>اختيار إجابة</translation>
    </message>
    <message>
        <source>Shift + answer</source>
        <translation>Shift + الإجابة</translation>
    </message>
    <message>
        <source>Strike out or restore an answer</source>
        <translation>شطب إجابة أو استعادتها</translation>
    </message>
    <message>
        <source>Right-click</source>
        <translation>النقر بالزر الأيمن</translation>
    </message>
    <message>
        <source>Navigation</source>
        <translation>التنقل</translation>
    </message>
    <message>
        <source>Up / Down</source>
        <translation>أعلى / أسفل</translation>
    </message>
    <message>
        <source>Left / Right</source>
        <translation>يسار / يمين</translation>
    </message>
    <message>
        <source>Previous or next question</source>
        <translation>السؤال السابق أو التالي</translation>
    </message>
    <message>
        <source>Filter questions</source>
        <translation>تصفية الأسئلة</translation>
    </message>
    <message>
        <source>Question image</source>
        <translation>صورة السؤال</translation>
    </message>
    <message>
        <source>Write your answer here</source>
        <translation>اكتب إجابتك هنا</translation>
    </message>
    <message>
        <source>Model answer: %1</source>
        <translation>الإجابة النموذجية: %1</translation>
    </message>
    <message>
        <source>How would you grade your answer?</source>
        <translation>كيف تقيّم إجابتك؟</translation>
    </message>
    <message>
        <source>Discuss with AI</source>
        <translation>ناقش مع الذكاء الاصطناعي</translation>
    </message>
    <message>
        <source>Mark</source>
        <translation>وضع علامة</translation>
    </message>
    <message>
        <source>Previous</source>
        <translation>السابق</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>التالي</translation>
    </message>
    <message>
        <source>Saving…</source>
        <translation>جارٍ الحفظ…</translation>
    </message>
    <message>
        <source>Ready to begin?</source>
        <translation>هل أنت مستعد للبدء؟</translation>
    </message>
    <message>
        <source>%1 questions</source>
        <translation>عدد الأسئلة: %1</translation>
    </message>
    <message>
        <source>Choose a leaderboard nickname</source>
        <translation>اختر اسمًا مستعارًا للوحة المتصدرين</translation>
    </message>
    <message>
        <source>Show the correct answer immediately</source>
        <translation>إظهار الإجابة الصحيحة فورًا</translation>
    </message>
    <message>
        <source>Automatically move to the next question</source>
        <translation>الانتقال تلقائيًا إلى السؤال التالي</translation>
    </message>
    <message>
        <source>Previous attempts: %1</source>
        <translation>المحاولات السابقة: %1</translation>
    </message>
    <message>
        <source>%1 answers are awaiting grading.</source>
        <translation>عدد الإجابات التي تنتظر التصحيح: %1.</translation>
    </message>
    <message>
        <source>Results and ranking are shown when grading is ready.</source>
        <translation>تظهر النتائج والترتيب عند اكتمال التصحيح.</translation>
    </message>
    <message>
        <source>Your answers were submitted successfully.</source>
        <translation>تم إرسال إجاباتك بنجاح.</translation>
    </message>
    <message>
        <source>#%1  %2  —  %3/%4</source>
        <translation>المركز %1  %2  —  %3/%4</translation>
    </message>
    <message>
        <source>Leaderboard</source>
        <translation>لوحة المتصدرين</translation>
    </message>
    <message>
        <source>Quiz completed</source>
        <translation>اكتمل الاختبار</translation>
    </message>
    <message>
        <source>Refresh status</source>
        <translation>تحديث الحالة</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>حاول مرة أخرى</translation>
    </message>
    <message>
        <source>This attempt ended without a submission.</source>
        <translation>انتهت هذه المحاولة دون تسليم.</translation>
    </message>
    <message>
        <source>Answers on this computer that never reached the server: %1.</source>
        <translation>إجابات على هذا الجهاز لم تصل إلى الخادم: %1.</translation>
    </message>
</context>
<context>
    <name>QuizController</name>
    <message>
        <source>This quiz starts at %1.</source>
        <translation>يبدأ هذا الاختبار في %1.</translation>
    </message>
    <message>
        <source>The deadline is based on the official quiz start time.</source>
        <translation>يُحتسب الموعد النهائي من وقت البدء الرسمي للاختبار.</translation>
    </message>
    <message>
        <source>This quiz has expired.</source>
        <translation>انتهت مدة هذا الاختبار.</translation>
    </message>
    <message>
        <source>Connection lost. This loaded attempt is read-only until reconnection.</source>
        <translation>انقطع الاتصال. هذه المحاولة المحمّلة للقراءة فقط حتى يعود الاتصال.</translation>
    </message>
    <message>
        <source>Internet connection is required to start the quiz.</source>
        <translation>يلزم الاتصال بالإنترنت لبدء الاختبار.</translation>
    </message>
    <message>
        <source>Enter a nickname to start this timed quiz.</source>
        <translation>أدخل اسمًا مستعارًا لبدء هذا الاختبار المؤقّت.</translation>
    </message>
    <message>
        <source>The server returned an invalid quiz attempt.</source>
        <translation>أعاد الخادم محاولة اختبار غير صالحة.</translation>
    </message>
    <message>
        <source>Could not save quiz answers locally.</source>
        <translation>تعذّر حفظ إجابات الاختبار على هذا الجهاز.</translation>
    </message>
    <message>
        <source>Some questions changed. Review your answers before continuing.</source>
        <translation>تغيّرت بعض الأسئلة. راجع إجاباتك قبل المتابعة.</translation>
    </message>
    <message>
        <source>Internet connection is required to submit the quiz.</source>
        <translation>يلزم الاتصال بالإنترنت لتسليم الاختبار.</translation>
    </message>
    <message>
        <source>This attempt is closed and cannot be submitted.</source>
        <translation>أُغلقت هذه المحاولة ولا يمكن تسليمها.</translation>
    </message>
    <message>
        <source>Review changed questions before submitting.</source>
        <translation>راجع الأسئلة التي تغيّرت قبل التسليم.</translation>
    </message>
    <message>
        <source>Time is up. Submitting saved answers…</source>
        <translation>انتهى الوقت. جارٍ تسليم الإجابات المحفوظة…</translation>
    </message>
    <message>
        <source>Time is up. Answers are now locked.</source>
        <translation>انتهى الوقت. أصبحت الإجابات مقفلة الآن.</translation>
    </message>
    <message>
        <source>Could not open the AI discussion.</source>
        <translation>تعذّر فتح المناقشة مع الذكاء الاصطناعي.</translation>
    </message>
    <message>
        <source>Question copied. Opening AI in %1…</source>
        <translation>نُسخ السؤال. سيُفتح الذكاء الاصطناعي بعد %1…</translation>
    </message>
    <message>
        <source>Connection lost. The status could not be refreshed.</source>
        <translation>انقطع الاتصال. تعذّر تحديث الحالة.</translation>
    </message>
    <message>
        <source>Time is up, and your answers could not be submitted yet.</source>
        <translation>انتهى الوقت، ولم يتسنَّ تسليم إجاباتك بعد.</translation>
    </message>
</context>
<context>
    <name>QuorinBackIconButton</name>
    <message>
        <source>Back</source>
        <translation>رجوع</translation>
    </message>
    <message>
        <source>Go back</source>
        <translation>العودة إلى الخلف</translation>
    </message>
</context>
<context>
    <name>QuorinButton</name>
    <message>
        <source>Quorin button</source>
        <translation>زر Quorin</translation>
    </message>
</context>
<context>
    <name>QuorinDialog</name>
    <message>
        <source>Confirm</source>
        <translation>تأكيد</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>نعم</translation>
    </message>
    <message>
        <source>No</source>
        <translation>لا</translation>
    </message>
</context>
<context>
    <name>QuorinFailureState</name>
    <message>
        <source>Content unavailable</source>
        <translation>المحتوى غير متاح</translation>
    </message>
    <message>
        <source>Error code: %1</source>
        <translation>رمز الخطأ: %1</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>رجوع</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>إعادة المحاولة</translation>
    </message>
</context>
<context>
    <name>QuorinNotice</name>
    <message>
        <source>Hide details</source>
        <translation>إخفاء التفاصيل</translation>
    </message>
    <message>
        <source>Technical details</source>
        <translation>التفاصيل التقنية</translation>
    </message>
</context>
<context>
    <name>QuorinShortcutsOverlay</name>
    <message>
        <source>Keyboard shortcuts</source>
        <translation>اختصارات لوحة المفاتيح</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>إغلاق</translation>
    </message>
</context>
<context>
    <name>QuorinTextField</name>
    <message>
        <source>Hide password</source>
        <translation>إخفاء كلمة المرور</translation>
    </message>
    <message>
        <source>Show password</source>
        <translation>إظهار كلمة المرور</translation>
    </message>
</context>
<context>
    <name>QuorinVideoPlayer</name>
    <message>
        <source>Lecture video</source>
        <translation>فيديو المحاضرة</translation>
    </message>
    <message>
        <source>Picture in picture</source>
        <translation>صورة داخل صورة</translation>
    </message>
</context>
<context>
    <name>RequiredUpdateDialog</name>
    <message>
        <source>Retry</source>
        <translation>إعادة المحاولة</translation>
    </message>
    <message>
        <source>Install</source>
        <translation>تثبيت</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>تحديث</translation>
    </message>
    <message>
        <source>Required software update</source>
        <translation>تحديث إلزامي للبرنامج</translation>
    </message>
    <message>
        <source>A required update is needed</source>
        <translation>يلزم تثبيت تحديث إلزامي</translation>
    </message>
    <message>
        <source>Quorin %1 must be installed before you can continue.</source>
        <translation>يجب تثبيت Quorin %1 قبل أن تتمكن من المتابعة.</translation>
    </message>
    <message>
        <source>Quorin must reconnect to verify a required update before you can continue.</source>
        <translation>يجب أن يعيد Quorin الاتصال للتحقق من تحديث إلزامي قبل أن تتمكن من المتابعة.</translation>
    </message>
    <message>
        <source>Required update download progress</source>
        <translation>تقدّم تنزيل التحديث الإلزامي</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>خروج</translation>
    </message>
</context>
<context>
    <name>ResetPasswordController</name>
    <message>
        <source>Passwords do not match.</source>
        <translation>كلمتا المرور غير متطابقتين.</translation>
    </message>
</context>
<context>
    <name>SearchableComboBox</name>
    <message>
        <source>Select an option</source>
        <translation>اختر خيارًا</translation>
    </message>
    <message>
        <source>No results found</source>
        <translation>لا توجد نتائج</translation>
    </message>
    <message>
        <source>Search institutions</source>
        <translation>ابحث عن المؤسسات التعليمية</translation>
    </message>
</context>
<context>
    <name>SecurityPane</name>
    <message>
        <source>Passwords do not match!</source>
        <translation>كلمتا المرور غير متطابقتين!</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>جارٍ التحديث...</translation>
    </message>
    <message>
        <source>Password updated successfully!</source>
        <translation>تم تحديث كلمة المرور بنجاح!</translation>
    </message>
    <message>
        <source>Security</source>
        <translation>الأمان</translation>
    </message>
    <message>
        <source>Current password</source>
        <translation>كلمة المرور الحالية</translation>
    </message>
    <message>
        <source>New password</source>
        <translation>كلمة المرور الجديدة</translation>
    </message>
    <message>
        <source>Confirm new password</source>
        <translation>تأكيد كلمة المرور الجديدة</translation>
    </message>
    <message>
        <source>Delete account</source>
        <translation>حذف الحساب</translation>
    </message>
    <message>
        <source>Update password</source>
        <translation>تحديث كلمة المرور</translation>
    </message>
</context>
<context>
    <name>SettingsController</name>
    <message>
        <source>Cannot link Telegram: user ID missing. Please refresh the status first.</source>
        <translation>تعذّر ربط تيليجرام: معرّف المستخدم غير موجود. يُرجى تحديث الحالة أولًا.</translation>
    </message>
</context>
<context>
    <name>SignupController</name>
    <message>
        <source>Nickname must contain 1–64 characters.</source>
        <translation>يجب أن يتكوّن الاسم المستعار من 1 إلى 64 حرفًا.</translation>
    </message>
    <message>
        <source>Registration failed</source>
        <translation>فشل التسجيل</translation>
    </message>
</context>
<context>
    <name>SnackbarHost</name>
    <message>
        <source>Dismiss notification</source>
        <translation>إغلاق الإشعار</translation>
    </message>
</context>
<context>
    <name>TechnicalErrorDialog</name>
    <message>
        <source>We couldn&apos;t complete that action.</source>
        <translation>تعذّر علينا إتمام هذا الإجراء.</translation>
    </message>
    <message>
        <source>Something went wrong</source>
        <translation>حدث خطأ ما</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>إغلاق</translation>
    </message>
    <message>
        <source>Error code: %1</source>
        <translation>رمز الخطأ: %1</translation>
    </message>
    <message>
        <source>Technical information is available if you need to share it with support.</source>
        <translation>تتوفر معلومات تقنية إذا احتجت إلى مشاركتها مع فريق الدعم.</translation>
    </message>
    <message>
        <source>Saved to: %1</source>
        <translation>تم الحفظ في: %1</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>نسخ</translation>
    </message>
    <message>
        <source>Save diagnostics</source>
        <translation>حفظ بيانات التشخيص</translation>
    </message>
    <message>
        <source>Reveal saved location</source>
        <translation>إظهار مكان الحفظ</translation>
    </message>
    <message>
        <source>Contact support</source>
        <translation>تواصل مع الدعم</translation>
    </message>
</context>
<context>
    <name>UpdateBanner</name>
    <message>
        <source>Install</source>
        <translation>تثبيت</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>تحديث</translation>
    </message>
    <message>
        <source>Required update grace period warning</source>
        <translation>تحذير مهلة السماح للتحديث الإلزامي</translation>
    </message>
    <message>
        <source>Software update available</source>
        <translation>يتوفر تحديث للبرنامج</translation>
    </message>
    <message>
        <source>A required update could not be checked</source>
        <translation>تعذّر التحقق من تحديث إلزامي</translation>
    </message>
    <message>
        <source>Quorin %1 is available</source>
        <translation>يتوفر Quorin %1</translation>
    </message>
    <message>
        <source>Connect within %1 hours to keep using Quorin.</source>
        <translation>اتصل بالإنترنت خلال %1 ساعة لمواصلة استخدام Quorin.</translation>
    </message>
    <message>
        <source>Downloading update…</source>
        <translation>جارٍ تنزيل التحديث…</translation>
    </message>
    <message>
        <source>The verified installer is ready.</source>
        <translation>برنامج التثبيت الذي تم التحقق منه جاهز.</translation>
    </message>
    <message>
        <source>Download and install when convenient.</source>
        <translation>نزّله وثبّته في الوقت الذي يناسبك.</translation>
    </message>
    <message>
        <source>Update download progress</source>
        <translation>تقدّم تنزيل التحديث</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>تجاهل</translation>
    </message>
    <message>
        <source>Dismiss this update notification</source>
        <translation>تجاهل إشعار التحديث هذا</translation>
    </message>
</context>
<context>
    <name>UpdateController</name>
    <message>
        <source>The release service URL is not secure.</source>
        <translation>عنوان خدمة الإصدارات غير آمن.</translation>
    </message>
    <message>
        <source>The update service timed out.</source>
        <translation>انتهت مهلة الاتصال بخدمة التحديثات.</translation>
    </message>
    <message>
        <source>The required-update grace period has expired.</source>
        <translation>انتهت مهلة السماح للتحديث الإلزامي.</translation>
    </message>
    <message>
        <source>The download stalled.</source>
        <translation>توقف التنزيل.</translation>
    </message>
    <message>
        <source>The downloaded update could not be verified.</source>
        <translation>تعذّر التحقق من التحديث الذي تم تنزيله.</translation>
    </message>
    <message>
        <source>The installer could not be opened.</source>
        <translation>تعذّر فتح برنامج التثبيت.</translation>
    </message>
    <message>
        <source>The update download URL is not secure.</source>
        <translation>رابط تنزيل التحديث غير آمن.</translation>
    </message>
    <message>
        <source>There is not enough free disk space for the update.</source>
        <translation>لا توجد مساحة خالية كافية على القرص للتحديث.</translation>
    </message>
    <message>
        <source>The downloaded update is larger than expected or could not be saved.</source>
        <translation>التحديث الذي تم تنزيله أكبر من المتوقع أو تعذّر حفظه.</translation>
    </message>
    <message>
        <source>The update download failed.</source>
        <translation>فشل تنزيل التحديث.</translation>
    </message>
    <message>
        <source>The downloaded update failed verification.</source>
        <translation>فشل التحقق من التحديث الذي تم تنزيله.</translation>
    </message>
    <message>
        <source>The update was signed by an unknown key.</source>
        <translation>التحديث موقَّع بمفتاح غير معروف.</translation>
    </message>
    <message>
        <source>The update signature is invalid.</source>
        <translation>توقيع التحديث غير صالح.</translation>
    </message>
    <message>
        <source>The verified update could not be committed to disk.</source>
        <translation>تعذّر حفظ التحديث الذي تم التحقق منه على القرص.</translation>
    </message>
    <message>
        <source>The cached update has the wrong size.</source>
        <translation>حجم التحديث المحفوظ غير صحيح.</translation>
    </message>
    <message>
        <source>The update checksum does not match.</source>
        <translation>المجموع الاختباري للتحديث غير مطابق.</translation>
    </message>
    <message>
        <source>The update service could not be reached.</source>
        <translation>تعذّر الوصول إلى خدمة التحديثات.</translation>
    </message>
    <message>
        <source>Open the downloaded package with your system&apos;s software installer.</source>
        <translation>افتح الحزمة التي تم تنزيلها باستخدام أداة تثبيت البرامج في نظامك.</translation>
    </message>
    <message>
        <source>The update service answered with an error (status %1).</source>
        <translation>ردّت خدمة التحديثات بخطأ (الحالة %1).</translation>
    </message>
    <message>
        <source>The update offer was invalid.</source>
        <translation>عرض التحديث غير صالح.</translation>
    </message>
    <message>
        <source>The update could not be saved to disk.</source>
        <translation>تعذّر حفظ التحديث على القرص.</translation>
    </message>
</context>
<context>
    <name>UserIdentityController</name>
    <message>
        <source>Your session has expired. Please sign in again.</source>
        <translation>انتهت صلاحية جلستك. يُرجى تسجيل الدخول مرة أخرى.</translation>
    </message>
    <message>
        <source>The server returned an invalid course list. Please try again.</source>
        <translation>أرسل الخادم قائمة دورات غير صالحة. يُرجى المحاولة مرة أخرى.</translation>
    </message>
    <message>
        <source>You are offline. Cached courses and downloads remain available.</source>
        <translation>أنت غير متصل بالإنترنت. تبقى الدورات المحفوظة والتنزيلات متاحة.</translation>
    </message>
    <message>
        <source>The server is temporarily unavailable. Courses could not be refreshed.</source>
        <translation>الخادم غير متاح مؤقتًا. تعذّر تحديث الدورات.</translation>
    </message>
</context>
<context>
    <name>VideoPictureInPicture</name>
    <message>
        <source>Back to the player</source>
        <translation>العودة إلى المشغّل</translation>
    </message>
</context>
<context>
    <name>quorin::MediaFetch</name>
    <message>
        <source>The media server did not answer in time.</source>
        <translation>لم يستجب خادم الوسائط في الوقت المحدد.</translation>
    </message>
    <message>
        <source>The media server redirected the request too many times.</source>
        <translation>أعاد خادم الوسائط توجيه الطلب مرات كثيرة جدًا.</translation>
    </message>
    <message>
        <source>The media server redirected the request to a destination that is not allowed.</source>
        <translation>أعاد خادم الوسائط توجيه الطلب إلى وجهة غير مسموح بها.</translation>
    </message>
    <message>
        <source>The media transfer was cancelled.</source>
        <translation>أُلغي نقل الوسائط.</translation>
    </message>
</context>
</TS>
